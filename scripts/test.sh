#!/usr/bin/env bash
# Builds and runs every test: the suite in the default build, the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the formatting
# check, and the Windows cross build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== Formatting"
scripts/check_format.sh

echo "== Suite (linux)"
cmake --workflow --preset linux

echo "== Suite (asan)"
cmake --workflow --preset asan

echo "== Fuzz targets (brief)"; scripts/fuzz_smoke.sh

echo "== Windows executable (mingw-w64 cross build, tests under Wine)"
scripts/test_windows.sh

echo "== All tests passed"
