// The floor: what any header-only reader of a folder of JPEG photos pays, and nothing more.
//
// It visits the folder with pinreel's own directory search (one listing, the same matching,
// sorted) and extension test, and, for each photo, opens a stdio stream with the same buffer,
// walks the marker segments up to the start of scan reading markers and lengths byte by byte
// and each payload in one block read into one reused buffer, and closes the stream. It decodes
// nothing, allocates nothing per photo and writes nothing.
//
// Payloads are read rather than passed over with fseek: glibc's fseek asks the kernel for the
// position (an lseek) and often refills the buffer, so skipping costs more than copying.
//
// usage: floor [-b BUFFER_BYTES] PATTERN
//   -b  stdio buffer size (default: pinreel's, 16384)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "exif/exif_reader.h"
#include "output/output.h"

namespace {

constexpr size_t kDefaultBufferSize = 16 * 1024;

uint8_t payload[65536];

// Walks one photo's segments up to the start of scan; false on anything that is not a JPEG
// header.
bool walk(FILE* f) {
  if (std::getc(f) != 0xFF || std::getc(f) != 0xD8) return false;
  for (;;) {
    int marker;
    int fill = 0;
    do {
      marker = std::getc(f);
    } while (marker == 0xFF && ++fill < 7);
    const int high = std::getc(f);
    const int low = std::getc(f);
    if (marker == EOF || marker == 0xFF || high == EOF || low == EOF) return false;
    const int length = high * 256 + low;
    if (length < 2) return false;
    const size_t size = static_cast<size_t>(length - 2);
    if (std::fread(payload, 1, size, f) != size) return false;
    if (marker == 0xDA) return true;
    if (marker == 0xD9) return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t buffer_size = kDefaultBufferSize;
  const char* pattern = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-b") == 0 && i + 1 < argc) {
      buffer_size = std::strtoul(argv[++i], nullptr, 10);
    } else {
      pattern = argv[i];
    }
  }
  if (pattern == nullptr || buffer_size == 0) {
    std::fputs("usage: floor [-b BUFFER_BYTES] PATTERN\n", stderr);
    return 2;
  }

  char* buffer = static_cast<char*>(std::malloc(buffer_size));
  if (buffer == nullptr) return 1;
  DirSearch search;
  if (search.start(pattern)) {
    const char* name;
    const char* path;
    EntryType type;
    while (search.next_entry(name, path, type)) {
      if (!has_jpeg_extension(name)) continue;
      FILE* f = std::fopen(path, "rb");
      if (f == nullptr) continue;
      std::setvbuf(f, buffer, _IOFBF, buffer_size);
      walk(f);
      std::fclose(f);
    }
  }
  std::free(buffer);
  return 0;
}
