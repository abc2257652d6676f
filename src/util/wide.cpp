#include "util/wide.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <cerrno>
#endif

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// The code point of the UTF-8 sequence at `p` (before `end`), advancing `p`; kReplacement for a
// byte that starts no well-formed sequence. Surrogates are let through: they are how an unpaired
// unit travels.
uint32_t decode_utf8(const unsigned char*& p, const unsigned char* end) {
  const unsigned lead = *p++;
  if (lead < 0x80) return lead;
  int length;
  uint32_t code;
  uint32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 1;
    code = lead & 0x1Fu;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 2;
    code = lead & 0x0Fu;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 3;
    code = lead & 0x07u;
    least = 0x10000;
  } else {
    return kReplacement;
  }
  if (end - p < length) return kReplacement;
  for (int i = 0; i < length; ++i) {
    if ((p[i] & 0xC0u) != 0x80) return kReplacement;
    code = (code << 6) | (p[i] & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF) return kReplacement;
  p += length;
  return code;
}

void append_utf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::wstring utf8_to_wide(const char* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  while (p < end) {
    const uint32_t code = decode_utf8(p, end);
    if (code < 0x10000) {
      out += static_cast<wchar_t>(code);
    } else {
      out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::wstring utf8_to_wide(const char* text) {
  return utf8_to_wide(text, std::strlen(text));
}

std::string wide_to_utf8(const wchar_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t code = static_cast<uint32_t>(text[i]) & 0xFFFF;
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length) {
      const uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    append_utf8(out, code);
  }
  return out;
}

std::string wide_to_utf8(const wchar_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return wide_to_utf8(text, length);
}

#ifdef _WIN32

std::wstring wide_path(const char* path) {
  std::wstring wide = utf8_to_wide(path);
  if (wide.size() < MAX_PATH - 12 || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return wide;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int errno_from_windows_error(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:  // Wine's answer for a file taken as a folder
      return ENOENT;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

#endif
