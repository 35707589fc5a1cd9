#!/usr/bin/env bash
# Cross-builds the Windows package with mingw-w64 (windows preset, build/windows)
# and tests it under Wine on a fresh prefix:
# - the unit tests (zev_tests, zev_win32_tests) through CTest, which runs them
#   with the toolchain's emulator, Wine;
# - the real executable (tests/win32/check_package.sh);
# - zev-sim.exe on the golden end-to-end scenarios (tests/win32/check_golden.sh)
#   and the capture's round trip (tests/win32/run_capture_round_trip.pl);
# - the real executable on the golden scenarios through the Wine rig
#   (tests/wine-rig/run_golden_rig.pl, scripts/wine_rig.sh), and its captures
#   against zev-sim.exe's (tests/wine-rig/run_capture_rig.pl);
# - the release: a second build of the two executables from a copy of the
#   source tree in a temporary folder (scripts/rebuild_release.sh), signed
#   with a throwaway key made now (tests/win32/make_test_signer.sh), must give
#   the same unsigned package, zev-sim.exe and bill of materials byte for
#   byte; its signature is verified, tampered with and removed, and the signed
#   file is checked under Wine (tests/win32/check_release.sh); the bill of
#   materials is checked against the committed CycloneDX schema and the files
#   (tests/win32/check_bom.py).
# Exits non-zero when the build or any test fails. Prints the cross-build
# time, the Wine test time, the rebuild's time and the size of the
# executable.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# shellcheck source=tests/win32/wine_env.sh
source tests/win32/wine_env.sh
release_work=$(mktemp -d /tmp/zev-release.XXXXXX)
trap 'zev_wine_stop; rm -rf "$release_work"' EXIT

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

echo "== Release: a second build in another folder, signed with a throwaway key"
rebuild_start=$(seconds)
tests/win32/make_test_signer.sh "$release_work/signer"
env -u ZEV_SIGNING_PKCS11_MODULE -u ZEV_SIGNING_PKCS11_KEY -u ZEV_SIGNING_CERT \
  -u ZEV_TIMESTAMP_URL ZEV_SIGNING_PFX="$release_work/signer/signer.p12" \
  ZEV_SIGNING_PASSWORD_FILE="$release_work/signer/password.txt" \
  scripts/rebuild_release.sh "$release_work/rebuild" build/windows || status=1
rebuild_end=$(seconds)
rebuilt=("$release_work"/rebuild/src/build/windows/ZEV_TQ270c_V*_*.unsigned.exe)
image=$(sed -n 's/^image=//p' build/windows/wine-rig.env)
tests/win32/check_release.sh "${rebuilt[0]%.unsigned.exe}.exe" "${rebuilt[0]}" \
  "$release_work/signer/ca.pem" "$image" || status=1
echo "-- the bill of materials"
unsigned=(build/windows/ZEV_TQ270c_V*_*.unsigned.exe)
# Debian's python3 (python3-jsonschema), not whichever python3 comes first on PATH.
/usr/bin/python3 tests/win32/check_bom.py "${unsigned[0]%.unsigned.exe}.cdx.json" "${unsigned[0]}" \
  "$image" cmake/cyclonedx || status=1

package=${unsigned[0]%.unsigned.exe}.exe
echo "cross build:      $(elapsed "$build_start" "$build_end")"
echo "Wine prefix boot: $(elapsed "$boot_start" "$boot_end")"
echo "tests under Wine: $(elapsed "$test_start" "$test_end")"
echo "second build:     $(elapsed "$rebuild_start" "$rebuild_end")"
echo "executable:       $package, $(stat -c %s "$package") bytes"
if ((status)); then
  echo "== Windows tests FAILED"
  exit "$status"
fi
echo "== Windows tests passed"
