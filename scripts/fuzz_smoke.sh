#!/usr/bin/env bash
# Builds every fuzz target and runs each briefly (about a minute in all);
# exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-10}"
