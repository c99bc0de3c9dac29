#include <cstring>
#include <iostream>

#define ROVALINK_STR2(x) #x
#define ROVALINK_STR(x) ROVALINK_STR2(x)

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << ROVALINK_STR(ROVALINK_VERSION_MAJOR) "." ROVALINK_STR(
          ROVALINK_VERSION_MINOR) "." ROVALINK_STR(ROVALINK_VERSION_PATCH) "\n";
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::cout << "Usage: rovalink [--headless] [--app-dir DIR] [--version] [--help]\n"
                   "Gateway between a Spykee Wi-Fi robot and an xAP home-automation bus.\n";
      return 0;
    }
  }
  std::cerr << "rovalink: the gateway is not assembled yet; try --help\n";
  return 1;
}
