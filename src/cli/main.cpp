#include "cli/cli.h"

#ifdef _WIN32

#include <string>
#include <vector>

// The pattern must reach the program unexpanded: the directory search is pinreel's own work.
extern "C" {
int _dowildcard = 0;
}

// The wide command line (-municode), so that every name arrives whole; UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(wide_to_utf8(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return pinreel_main(argc, pointers.data());
}

#else

int main(int argc, char** argv) {
  return pinreel_main(argc, argv);
}

#endif
