#!/usr/bin/env bash
# Runs the shipped executable, unmodified, on an emulated machine under Wine.
#
#   scripts/wine_rig.sh [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss]
#                       [--] [package arguments...]
#
# The options are zev-sim's, with Linux paths; the package arguments go to
# the executable unchanged, as one would type them for it under Wine (a log
# path is a Wine path, e.g. /log=Z:\tmp\run.log; a relative one is relative
# to the current directory). Without --machine: the simulator's
# demonstration machine.
#
# Each run gets its own Wine prefix, a copy of a booted template prefix
# (hard links for drive_c, copies of the registry files), so no device of an
# earlier machine file survives. In it: the Wine server is kept alive
# (wineserver -p), zev-rig-setup.exe creates the machine's devices through
# SetupAPI and starts the zevrig.sys driver service, which answers every open
# and device request with the simulator's drives and drivers; the executable
# is copied byte for byte to C:\pkg\ and run as C:\pkg\<name>.exe. Its
# standard output passes through unchanged; the exit status is the low 8 bits
# of the executable's, as zev-sim gives it; the report (--report) holds the
# full status. Status 2 with a line on standard error: a problem of the rig
# (options, machine file, Wine), the executable then not run.
#
# Environment: ZEV_RIG_BUILD (default build/windows: the cross build with
# wine-rig.env), ZEV_RIG_HOME (default $ZEV_RIG_BUILD/wine-rig: the template
# prefix and the run prefixes), ZEV_RIG_KEEP=1 keeps the run prefix.
#
# --clock moves the executable's clock with libfaketime when it is installed
# (Debian package faketime); without it the option is refused.
set -uo pipefail

usage="usage: wine_rig.sh [--machine FILE] [--report FILE] [--clock YYYY-MM-DDThh:mm:ss] [--] [package arguments...]"
problem() {
  echo "wine_rig.sh: $*" >&2
  exit 2
}

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEV_RIG_BUILD:-$root/build/windows}
home=${ZEV_RIG_HOME:-$build/wine-rig}

machine=
report=
clock=
while (($#)); do
  case $1 in
    --) shift; break ;;
    --machine | --report | --clock)
      (($# >= 2)) || problem "$1 needs a value; $usage"
      var=${1#--}
      [[ -z ${!var} ]] || problem "$1 is given twice; $usage"
      [[ -n $2 ]] || problem "$1 needs a value; $usage"
      printf -v "$var" '%s' "$2"
      shift 2 ;;
    --*) problem "unknown option \"$1\"; $usage" ;;
    *) break ;;
  esac
done

[[ -f $build/wine-rig.env ]] || problem "no $build/wine-rig.env: build the windows preset first"
declare -A built
while IFS='=' read -r key value; do built[$key]=$value; done <"$build/wine-rig.env"
for key in package driver setup image; do
  [[ -f ${built[$key]:-} ]] || problem "missing $key file ${built[$key]:-}"
done

faketime_lib=
if [[ -n $clock ]]; then
  [[ $clock =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] ||
    problem "--clock takes a date and time as YYYY-MM-DDThh:mm:ss, not \"$clock\""
  for lib in /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1; do
    [[ -f $lib ]] && faketime_lib=$lib
  done
  [[ -n $faketime_lib ]] || problem "--clock needs libfaketime (Debian package faketime)"
fi

# Unix path to the Windows form of Wine's Z: drive.
winpath() {
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

machine_arg=-
if [[ -n $machine ]]; then
  [[ -r $machine ]] || problem "cannot read the machine file $machine"
  machine_arg=$(winpath "$machine")
fi
if [[ -n $report ]]; then
  : >"$report" 2>/dev/null || problem "cannot write the report $report"
fi

export WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY WAYLAND_DISPLAY

# The template: a booted prefix, made once (under a lock: runs may start side
# by side).
mkdir -p "$home"
(
  flock 9
  if [[ ! -f $home/template/.zev-rig-ready ]]; then
    rm -rf "$home/template"
    WINEPREFIX=$home/template wine wineboot -i </dev/null >/dev/null 2>&1
    WINEPREFIX=$home/template wineserver -w
    touch "$home/template/.zev-rig-ready"
  fi
) 9>"$home/.template.lock" || problem "cannot prepare the template prefix"

run=$(mktemp -d "$home/run.XXXXXX")
export WINEPREFIX=$run
cleanup() {
  wineserver -k >/dev/null 2>&1
  [[ ${ZEV_RIG_KEEP:-0} == 1 ]] || rm -rf "$run"
}
trap cleanup EXIT
cp -al "$home/template/." "$run/" || problem "cannot copy the template prefix"
for reg in "$home"/template/*.reg; do
  cp --remove-destination "$reg" "$run/" || problem "cannot copy $reg"
done

wineserver -p </dev/null >/dev/null 2>&1

package_name=$(basename "${built[package]}")
mkdir -p "$run/drive_c/pkg"
cp "${built[package]}" "$run/drive_c/pkg/$package_name"
cmp -s "${built[package]}" "$run/drive_c/pkg/$package_name" ||
  problem "the copy of $package_name differs from the build's"

setup=${built[setup]}
wine "$setup" load "$machine_arg" "$(winpath "${built[image]}")" \
  "$(winpath "${built[driver]}")" </dev/null >&2 || problem "the machine could not be set up"

status_file=$run/package-status
preload=()
if [[ -n $faketime_lib ]]; then
  # A frozen clock at the given local time (UTC both for libfaketime and for
  # Wine's time zone of this process).
  preload=(env "LD_PRELOAD=$faketime_lib" "FAKETIME=${clock/T/ } " TZ=UTC)
fi
"${preload[@]}" wine "$setup" run "$(winpath "$status_file")" "C:\\pkg\\$package_name" "$@"
status=$?
full_status=$status
[[ -f $status_file ]] && full_status=$(tr -d '\r\n' <"$status_file")

if [[ -n $report ]]; then
  wine "$setup" report "$full_status" "$(winpath "$report")" </dev/null >&2 ||
    problem "the report could not be read from the driver"
fi
exit "$status"
