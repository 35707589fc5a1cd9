// zev-sim on POSIX hosts: arguments arrive as UTF-8 bytes.
#include <string>
#include <vector>

#include "launcher.hpp"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(zevlauncher::wideFromUtf8(argv[i]));
  }
  return zevlauncher::runLauncher(args);
}
