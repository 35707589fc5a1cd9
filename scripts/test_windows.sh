#!/usr/bin/env bash
# Cross-builds the Windows package with mingw-w64 (windows preset, build/windows)
# and tests it under Wine on a fresh prefix:
# - the unit tests (zev_tests, zev_win32_tests) through CTest, which runs them
#   with the toolchain's emulator, Wine;
# - the real executable (tests/win32/check_package.sh);
# - zev-sim.exe on the golden end-to-end scenarios (tests/win32/check_golden.sh);
# - the real executable on the golden scenarios through the Wine rig
#   (tests/wine-rig/run_golden_rig.pl, scripts/wine_rig.sh).
# Exits non-zero when the build or any test fails. Prints the cross-build
# time, the Wine test time and the size of the executable.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# shellcheck source=tests/win32/wine_env.sh
source tests/win32/wine_env.sh
trap zev_wine_stop EXIT

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f s", b - a }'; }

echo "== Cross build (windows preset)"
build_start=$(seconds)
cmake --preset windows
cmake --build --preset windows
build_end=$(seconds)

echo "== Wine prefix"
boot_start=$(seconds)
zev_wine_start
boot_end=$(seconds)

echo "== Tests under Wine"
test_start=$(seconds)
status=0
ctest --preset windows || status=$?
test_end=$(seconds)

package=(build/windows/ZEV_TQ270c_V*_*.exe)
echo "cross build:      $(elapsed "$build_start" "$build_end")"
echo "Wine prefix boot: $(elapsed "$boot_start" "$boot_end")"
echo "tests under Wine: $(elapsed "$test_start" "$test_end")"
echo "executable:       ${package[0]}, $(stat -c %s "${package[0]}") bytes"
if ((status)); then
  echo "== Windows tests FAILED"
  exit "$status"
fi
echo "== Windows tests passed"
