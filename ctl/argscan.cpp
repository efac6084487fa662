#include "ctl/argscan.h"

#include <cstring>
#include <initializer_list>

bool ArgumentsWantPicture(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    for (const char* option : {"--png", "--svg", "-png", "-svg"}) {
      const size_t n = std::strlen(option);
      if (std::strncmp(a, option, n) == 0 && (a[n] == '\0' || a[n] == '=')) return true;
    }
  }
  return false;
}
