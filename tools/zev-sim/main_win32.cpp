// zev-sim on Windows: arguments arrive as wide text (-municode). Standard
// output and standard error are switched to binary mode so that the package's
// "\n" line breaks reach them as single bytes, as on POSIX hosts.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher.hpp"

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  return zevlauncher::runLauncher(args);
}
