# Cross build for 64-bit Windows with MinGW-w64, tests run under Wine.
# The -posix compilers: GoogleTest needs std::mutex, which the win32-thread variant lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PINREEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PINREEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PINREEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PINREEL_MINGW_TRIPLE}-windres)

# Libraries and packages come from the MinGW-w64 tree only, never from the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${PINREEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .exe then needs only the system's own DLLs: no libstdc++, libgcc or winpthread beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# zlib too (Debian's libz-mingw-w64-dev): its static library, not the import library of the DLL.
set(ZLIB_USE_STATIC_LIBS ON)

find_program(PINREEL_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(PINREEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${PINREEL_WINE})
endif()
