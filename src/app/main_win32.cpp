// The Windows package's entry point. The executable is built for the windowed
// subsystem with wide arguments (-mwindows -municode): it neither allocates nor
// attaches a console, so its text reaches only what the caller connected to
// standard output. The process exit code is the entry point's.
#include "app/entry_point.hpp"

int wmain(int argc, wchar_t** argv) {
  return zev::packageMain(argc, argv);
}
