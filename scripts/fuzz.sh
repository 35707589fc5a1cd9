#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for SECONDS
# seconds, one after another, from its committed seeds. New inputs go to
# build/fuzz/corpus/<target> (not committed); a crash, a broken invariant or a
# sanitizer report leaves its input in build/fuzz/artifacts/ and makes the
# script exit non-zero.
#
#   scripts/fuzz.sh SECONDS [TARGET...]     (default: every target)
#
# Setting FUZZ_NO_BUILD=1 skips the build.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}"
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(identify_text csmi_reply vroc_lists inbox_update intel_update package_main)
fi

# FUZZ_NO_BUILD=1: run the targets already built (two runs side by side).
if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "${FUZZ_BUILD_JOBS:-2}"
fi

mkdir -p build/fuzz/artifacts
status=0
for target in "${targets[@]}"; do
  corpus="build/fuzz/corpus/${target}"
  mkdir -p "${corpus}"
  echo "== fuzz_${target} (${seconds} s)"
  if ! "build/fuzz/fuzz/fuzz_${target}" -max_total_time="${seconds}" -timeout=60 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/${target}-" \
      "${corpus}" "fuzz/corpus/${target}" 2>"build/fuzz/${target}.log"; then
    echo "fuzz_${target}: FINDING, see build/fuzz/${target}.log and build/fuzz/artifacts/"
    status=1
  fi
  grep -E "^#[0-9]+ +DONE|stat::number_of_executed_units|ERROR|invariant broken" \
    "build/fuzz/${target}.log" || true
done
exit "${status}"
