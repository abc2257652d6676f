#include "cli/cli.h"

#ifdef __MINGW32__
// The pattern must reach the program unexpanded: the directory search is pinreel's own work.
extern "C" {
int _dowildcard = 0;
}
#endif

int main(int argc, char** argv) {
  return pinreel_main(argc, argv);
}
