// File names for Windows' wide API. Inside the program every name is UTF-8; Windows speaks UTF-16.
// NTFS allows names that are not valid UTF-16 (an unpaired surrogate): such a unit is carried as
// its three-byte UTF-8 form (WTF-8), so that every name found can be opened again.
#pragma once

#include <cstddef>
#include <string>

// UTF-8 as UTF-16 code units (one per wchar_t, whatever its width). Bytes that are not UTF-8
// become U+FFFD.
std::wstring utf8_to_wide(const char* text, size_t length);
std::wstring utf8_to_wide(const char* text);
// UTF-16 code units as UTF-8, unpaired surrogates included.
std::string wide_to_utf8(const wchar_t* text, size_t length);
std::string wide_to_utf8(const wchar_t* text);

#ifdef _WIN32
// A UTF-8 path for the wide API: a path too long for the classic limit of 260 units becomes an
// absolute "\\?\" path, which has no such limit.
std::wstring wide_path(const char* path);
// The errno value for a Windows error code.
int errno_from_windows_error(unsigned long code);
#endif
