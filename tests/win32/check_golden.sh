#!/usr/bin/env bash
# Runs the golden end-to-end scenarios (tests/golden/) with zev-sim.exe under
# Wine: the same bytes on standard output and in the log as on the host
# (run_golden.pl); or, with a third argument, another Perl script that runs
# zev-sim.exe under Wine, with the same two arguments: the capture's round
# trip (run_capture_round_trip.pl) or the rig's captures against zev-sim.exe's
# (tests/wine-rig/run_capture_rig.pl).
#
#   check_golden.sh PATH/zev-sim.exe SOURCE_DIR [SCRIPT]
set -uo pipefail

sim=${1:?usage: check_golden.sh zev-sim.exe SOURCE_DIR [SCRIPT]}
source_dir=${2:?usage: check_golden.sh zev-sim.exe SOURCE_DIR [SCRIPT]}
here=$(cd "$(dirname "$0")" && pwd)
script=${3:-$here/run_golden.pl}
# shellcheck source=tests/win32/wine_env.sh
source "$here/wine_env.sh"
trap zev_wine_stop EXIT
zev_wine_start

perl "$script" "$sim" "$source_dir"
