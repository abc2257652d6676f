#ifdef _WIN32

#include <windows.h>

#include <string>

#include "output/output.h"

// Through UTF-16, the one conversion Windows offers between code pages.
std::string ansi_to_utf8(const char* text) {
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (wide_length <= 0) return text;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], wide_length) != wide_length) return text;
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return text;
  std::string utf8(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr) !=
      length) {
    return text;
  }
  utf8.pop_back();  // the terminator, counted in `length`
  return utf8;
}

#endif
