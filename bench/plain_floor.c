/* The plain floor: the header reader that anyone would write in a few lines of C. It lists the
 * folder in directory order (no sorting, no matching but the extension), opens each photo with a
 * stdio stream and its default buffer, and walks the marker segments up to the start of scan,
 * reading markers and lengths byte by byte and each payload into a buffer of its own from one
 * malloc. It decodes nothing and writes nothing.
 *
 * usage: plain_floor FOLDER */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int has_jpeg_extension(const char* name) {
  const char* dot = strrchr(name, '.');
  if (dot == NULL) return 0;
  char lower[6] = {0};
  for (int i = 0; i < 5 && dot[i] != '\0'; ++i) {
    lower[i] = (char)(dot[i] >= 'A' && dot[i] <= 'Z' ? dot[i] - 'A' + 'a' : dot[i]);
  }
  return (strcmp(lower, ".jpg") == 0 && dot[4] == '\0') ||
         (strcmp(lower, ".jpeg") == 0 && dot[5] == '\0');
}

static void walk(FILE* f) {
  if (getc(f) != 0xFF || getc(f) != 0xD8) return;
  for (;;) {
    int marker;
    int fill = 0;
    do {
      marker = getc(f);
    } while (marker == 0xFF && ++fill < 7);
    const int high = getc(f);
    const int low = getc(f);
    if (marker == EOF || marker == 0xFF || high == EOF || low == EOF) return;
    const int length = high * 256 + low;
    if (length < 2) return;
    unsigned char* payload = malloc((size_t)length);
    if (payload == NULL) return;
    const size_t got = fread(payload, 1, (size_t)length - 2, f);
    free(payload);
    if (got != (size_t)length - 2 || marker == 0xDA || marker == 0xD9) return;
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: plain_floor FOLDER\n", stderr);
    return 2;
  }
  DIR* dir = opendir(argv[1]);
  if (dir == NULL) return 1;
  char path[4096];
  for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
    if (!has_jpeg_extension(entry->d_name)) continue;
    snprintf(path, sizeof path, "%s/%s", argv[1], entry->d_name);
    FILE* f = fopen(path, "rb");
    if (f == NULL) continue;
    walk(f);
    fclose(f);
  }
  closedir(dir);
  return 0;
}
