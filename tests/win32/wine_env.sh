# shellcheck shell=bash
# Sourced by the Wine checks: quiet Wine, no display (a message box then
# returns at once instead of waiting for a click), and a Wine prefix whose
# server is already running. Without a running server every Wine program that
# CTest starts waits for background processes that hold its output pipe.
#
#   zev_wine_start   boots a fresh prefix unless ZEV_WINE_READY=1 says that
#                    the caller (scripts/test_windows.sh) has done so
#   zev_wine_stop    stops the server and removes the prefix it booted

export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

zev_wine_booted_here=0

zev_wine_start() {
  if [[ "${ZEV_WINE_READY:-0}" == 1 ]]; then
    return 0
  fi
  WINEPREFIX=$(mktemp -d /tmp/zev-wine.XXXXXX)
  export WINEPREFIX
  zev_wine_booted_here=1
  wine wineboot -i </dev/null >/dev/null 2>&1 && wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  export ZEV_WINE_READY=1
}

zev_wine_stop() {
  if [[ "$zev_wine_booted_here" == 1 ]]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    zev_wine_booted_here=0
  fi
}

# Unix path to the Windows form that Wine's Z: drive gives it.
zev_windows_path() {
  local p=$1
  printf 'Z:%s' "${p//\//\\}"
}
