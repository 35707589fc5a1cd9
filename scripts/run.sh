#!/usr/bin/env bash
# Builds the package and runs it on the built-in simulated machine (or on the
# machine file given with --machine); every argument goes to zev-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
ZEV_WINDOWS=0 scripts/setup.sh >&2
cmake --preset linux >/dev/null
cmake --build --preset linux --target zev-sim >&2
exec build/linux/zev-sim "$@"
