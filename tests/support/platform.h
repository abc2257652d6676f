// The little the tests need from the operating system, and the ways POSIX and Windows differ
// in what the program writes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// `text` with each "\n" as the platform's text streams write it: "\r\n" on Windows.
std::string text_stream(const std::string& text);

// A binary read-write stream on a file that disappears when it is closed; null on failure.
FILE* scratch_file();

// A new empty directory, e.g. /tmp/pinreel-cli-XXXXXX; "" on failure.
std::string make_temp_dir();

// Runs `program` (a path, made absolute first) with `args` in `cwd`, standard output and
// standard error written to the named files. Returns the exit status, or -1 when the program
// could not be started or did not exit normally.
int run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::string& stderr_path);

// The errno value of opening a directory as a file: EISDIR on POSIX, EACCES on Windows.
int directory_open_error();

// A device on which every write fails for want of space (/dev/full), or null where there is none.
const char* full_device();

// The active ANSI code page on Windows (1252, say); 0 elsewhere, where names are plain bytes.
unsigned ansi_code_page();

// True when xmllint is installed and accepts the XML file at `path`; `available` tells whether
// it is installed.
bool xmllint_accepts(const std::string& path, bool& available);

}  // namespace platform
