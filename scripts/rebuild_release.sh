#!/usr/bin/env bash
# Rebuilds the Windows package from this source tree in another folder and
# compares the result with a reference byte for byte:
#
#   scripts/rebuild_release.sh FOLDER [REFERENCE]
#
# FOLDER (new or empty) receives a copy of the source tree (the files git
# tracks or would track, as they are now, without build/) in FOLDER/src, which
# is then configured with the windows preset (tests off) and builds the two
# executables only (the package and zev-sim.exe, -j2). SOURCE_DATE_EPOCH is
# the commit's time unless the environment sets it; the signing variables
# (README, "Releasing") apply to the rebuild as to any build.
#
# REFERENCE is a build folder (build/windows): its <title>.unsigned.exe,
# zev-sim.exe and <title>.cdx.json must equal the rebuild's; or a released
# package executable: signed, its signature is removed first (osslsigncode
# remove-signature), and the file must equal the rebuild's unsigned one.
# Prints the SHA-256 of each file compared; exits 1 when any differs.
set -euo pipefail
folder=${1:?usage: rebuild_release.sh FOLDER [REFERENCE]}
reference=${2:-}
here=$(cd "$(dirname "$0")/.." && pwd)

if [[ -e "$folder" && -n "$(ls -A "$folder")" ]]; then
  echo "rebuild_release.sh: $folder is not empty" >&2
  exit 2
fi
mkdir -p "$folder/src"
folder=$(cd "$folder" && pwd)
if [[ "$folder/src" == "$here" ]]; then
  echo "rebuild_release.sh: $folder/src is this source tree" >&2
  exit 2
fi

git -C "$here" ls-files -z --cached --others --exclude-standard |
  (cd "$here" && xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
  tar -C "$here" --null -T - -cf - | tar -C "$folder/src" -xf -
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

echo "== Rebuild in $folder/src (SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH)"
(cd "$folder/src" && cmake --preset windows -DZEV_BUILD_TESTS=OFF >"$folder/configure.log" &&
  cmake --build build/windows --target zev_package zev-sim -j2) ||
  {
    cat "$folder/configure.log" >&2
    exit 1
  }

rebuilt="$folder/src/build/windows"
unsigned=("$rebuilt"/ZEV_TQ270c_V*_*.unsigned.exe)
title=$(basename "${unsigned[0]}" .unsigned.exe)

differ=0
# same NAME FILE_A FILE_B
same() {
  printf '%-20s %s  %s\n' "$1" "$(sha256sum "$2" | cut -d' ' -f1)" "$2"
  printf '%-20s %s  %s\n' "" "$(sha256sum "$3" | cut -d' ' -f1)" "$3"
  if cmp -s "$2" "$3"; then
    echo "identical: $1"
  else
    echo "DIFFERENT: $1 ($(cmp -l "$2" "$3" 2>/dev/null | wc -l) bytes differ)"
    differ=1
  fi
}

if [[ -z "$reference" ]]; then
  sha256sum "${unsigned[0]}" "$rebuilt/zev-sim.exe" "$rebuilt/$title.cdx.json"
elif [[ -d "$reference" ]]; then
  same "package (unsigned)" "$reference/$title.unsigned.exe" "${unsigned[0]}"
  same "zev-sim.exe" "$reference/zev-sim.exe" "$rebuilt/zev-sim.exe"
  same "bill of materials" "$reference/$title.cdx.json" "$rebuilt/$title.cdx.json"
else
  stripped="$folder/$(basename "$reference" .exe).release-unsigned.exe"
  if osslsigncode extract-signature -in "$reference" -out "$folder/release.sig" >/dev/null 2>&1; then
    osslsigncode remove-signature -in "$reference" -out "$stripped" >/dev/null
  else
    cp "$reference" "$stripped"
  fi
  same "package (unsigned)" "$stripped" "${unsigned[0]}"
fi
exit "$differ"
