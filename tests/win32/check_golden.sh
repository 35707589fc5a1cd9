#!/usr/bin/env bash
# Runs the golden end-to-end scenarios (tests/golden/) with zev-sim.exe under
# Wine: the same bytes on standard output and in the log as on the host.
#
#   check_golden.sh PATH/zev-sim.exe SOURCE_DIR
set -uo pipefail

sim=${1:?usage: check_golden.sh zev-sim.exe SOURCE_DIR}
source_dir=${2:?usage: check_golden.sh zev-sim.exe SOURCE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/win32/wine_env.sh
source "$here/wine_env.sh"
trap zev_wine_stop EXIT
zev_wine_start

perl "$here/run_golden.pl" "$sim" "$source_dir"
