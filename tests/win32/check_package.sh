#!/usr/bin/env bash
# Checks the real Windows package executable under Wine, run the way a
# deployment tool runs it: from a copy alone in an empty directory, with its
# standard output redirected to a file.
#
#   check_package.sh PATH/ZEV_TQ270c_V1.0.2_KTW8LMZB.exe [FIRMWARE_IMAGE]
#
# - a rejected argument: banner, usage block, exit status 1;
# - a log path in a missing directory: the invalid-path line, exit status 1;
# - /s and a log on Wine's own machine (no matching drive): the "[No Disk]"
#   log, the start and end lines, exit status 1;
# - the event log: the silent run's entry (Error) and a check's (Information)
#   on Wine's eventlog debug channel, and the source's registry key with
#   EventCreate.exe as its message file and TypesSupported 7, a key naming
#   another message file rewritten and one naming it left alone;
# - no /s and no display: the final message box returns and the run ends;
# - /c on Wine's own machine: the image's SHA-256 as CNG computes it (equal to
#   FIRMWARE_IMAGE's when given), no drive needing the update, exit status 2;
# - the file itself: imports only system DLLs, the windowed subsystem, its
#   version information and elevation manifest, under 4 MiB, and (given
#   FIRMWARE_IMAGE) the 2 MiB image embedded unchanged.
# Exits 1 when any check fails.
set -uo pipefail

exe=${1:?usage: check_package.sh PACKAGE.exe [FIRMWARE_IMAGE]}
image=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/win32/wine_env.sh
source "$here/wine_env.sh"

objdump=${ZEV_OBJDUMP:-x86_64-w64-mingw32-objdump}
name=$(basename "$exe")
title=${name%.exe}
work=$(mktemp -d /tmp/zev-win32-package.XXXXXX)
trap 'zev_wine_stop; rm -rf "$work"' EXIT
zev_wine_start

failures=0
pass() { printf 'ok   %s\n' "$1"; }
fail() {
  printf 'FAIL %s\n' "$1"
  failures=$((failures + 1))
}
# expect_same NAME EXPECTED_FILE ACTUAL_FILE
expect_same() {
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    diff <(od -An -c "$2") <(od -An -c "$3") | head -20
  fi
}
expect_status() {
  if [[ "$2" == "$3" ]]; then
    pass "$1: exit status $3"
  else
    fail "$1: exit status $3, expected $2"
  fi
}

# The package alone in an empty directory: nothing beside it to load.
mkdir "$work/pkg"
cp "$exe" "$work/pkg/$name"

# run NAME ARGS...: runs the package from its directory; standard output in
# $work/NAME.out; sets status (124: still running after two minutes).
run() {
  local tag=$1
  shift
  (cd "$work/pkg" && timeout 120 wine "./$name" "$@" >"$work/$tag.out" 2>"$work/$tag.err" \
    </dev/null)
  status=$?
}

rule=$(printf '=%.0s' {1..96})
# The banner: rule, title, a notice line (its text is the package's own), rule.
banner_of() {
  printf '%s\n%s\n' "$rule" "$title"
  sed -n 3p "$1"
  printf '%s\n' "$rule"
}
check_banner() {
  if [[ "$(sed -n 1p "$2")" == "$rule" && "$(sed -n 2p "$2")" == "$title" &&
    -n "$(sed -n 3p "$2")" && "$(sed -n 4p "$2")" == "$rule" ]]; then
    pass "$1: banner"
  else
    fail "$1: banner"
    head -4 "$2"
  fi
}

# --- A rejected argument ---
run usage /x
expect_status "rejected argument" 1 "$status"
check_banner "rejected argument" "$work/usage.out"
{
  banner_of "$work/usage.out"
  printf '\nAllowed Behaviors:\n'
  printf '%-20s%s\n' '/s' 'Execute update package in silently without user intervention.'
  printf '%-20s%s\n' '/log=<FILEPATH>' 'Write installation log to a specified file.'
  printf '%-20s%s\n' '/c' 'Check which drives need this update; change nothing.'
  printf '%-20s%s\n' '/json=<FILEPATH>' 'Write the results as JSON to a specified file.'
  printf '%-20s%s\n' '/rc=msi' 'Return Windows Installer codes: 3010 reboot, 1618 busy, 1603 failure.'
  printf '%-20s%s\n' '/capture=<FILEPATH>' 'Write the drives and devices found as a machine file.'
} >"$work/usage.expected"
expect_same "rejected argument: usage block, \"\\n\" line breaks" "$work/usage.expected" \
  "$work/usage.out"

# --- "/rc=msi": Windows Installer's codes (a POSIX status keeps the low 8 bits) ---
run rcrejected /x /rc=msi
expect_status "rejected argument with /rc=msi (1639)" $((1639 % 256)) "$status"
results_unix="$work/rc.json"
run rcfailure /s /rc=msi "/json=$(zev_windows_path "$results_unix")"
expect_status "no drive with /rc=msi (1603)" $((1603 % 256)) "$status"
if grep -q '"exitStatus": 1,' "$results_unix" && grep -q '"processExitCode": 1603,' "$results_unix"; then
  pass "no drive with /rc=msi: results file exitStatus 1, processExitCode 1603"
else
  fail "no drive with /rc=msi: results file"
  cat "$results_unix" 2>/dev/null | head -20
fi

# --- A check: CNG's digest of the embedded image, the run guard taken ---
run check /c /s
expect_status "check on Wine's machine" 2 "$status"
digest=$(sed -n 's/^ Image SHA-256 : \([0-9a-f]\{64\}\)$/\1/p' "$work/check.out")
if [[ -z "$digest" ]]; then
  fail "check: no image SHA-256 line"
elif [[ -n "$image" && "$digest" != "$(sha256sum "$image" | cut -d' ' -f1)" ]]; then
  fail "check: image SHA-256 $digest differs from the image file's"
else
  pass "check: image SHA-256 $digest"
fi

# --- A log path that cannot be opened ---
bad_log='Z:\nonexistent\dir\x.log'
run badlog "/log=$bad_log"
expect_status "invalid log path" 1 "$status"
{
  banner_of "$work/badlog.out"
  printf '[ERROR] %s is invalid file path.\n' "$bad_log"
} >"$work/badlog.expected"
expect_same "invalid log path: the invalid-path line only" "$work/badlog.expected" \
  "$work/badlog.out"

# --- Silent run with a log on a machine without a matching drive ---
log_unix="$work/install.log"
log_win=$(zev_windows_path "$log_unix")
printf 'stale text of an earlier run\n' >"$log_unix"
# The first run registers the event source: no key of an earlier check of
# this prefix (the same prefix checks the unsigned and the signed file).
wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ZEV_TQ270c' /f \
  </dev/null >/dev/null 2>&1
# Wine 8's ReportEventW prints each string on its eventlog channel (an
# Error entry as err, an Information entry as trace).
WINEDEBUG=trace+eventlog run silent /s "/log=$log_win"
expect_status "silent run, no drive" 1 "$status"
check_banner "silent run, no drive" "$work/silent.out"
{
  banner_of "$work/silent.out"
  printf '\n >> ZEV Started \n\n'
  printf '\n >> ZEV Ended (Return Code : 1)\n\n'
} >"$work/silent.expected"
expect_same "silent run, no drive: start and end lines" "$work/silent.expected" "$work/silent.out"

stamp='[0-3][0-9]-[01][0-9]-20[0-9][0-9]\([0-2][0-9]:[0-5][0-9]:[0-6][0-9]\)'
if [[ -f "$log_unix" ]] &&
  head -3 "$log_unix" | perl -e '
    my ($stamp, $log) = @ARGV;
    my @l = <STDIN>;
    exit !(@l == 3 && $l[0] =~ /^Start Time : $stamp\n\z/ && $l[1] =~ /^End Time : $stamp\n\z/
           && $l[2] =~ /^Input Command : \S*\Q'"$name"'\E \/s \/log=\Q$log\E \n\z/);
  ' "$stamp" "$log_win"; then
  pass "silent run, no drive: log times and command echo"
else
  fail "silent run, no drive: log times and command echo"
  head -3 "$log_unix" 2>/dev/null | od -c | head -10
fi
{
  printf '[No Disk]\nUpdated Firmware Version : KTW8LMZB\nReturn Code : 1\n'
  printf 'Result Details : No disks are available for download.\n'
  printf '\n[Final Result]\nReturn Code : 1\nResult Details : Patch Failed..\n'
} >"$work/log.expected"
tail -n +4 "$log_unix" >"$work/log.tail" 2>/dev/null
expect_same "silent run, no drive: \"[No Disk]\" log replaces the old file" "$work/log.expected" \
  "$work/log.tail"

# --- The event log entry and its source's registration ---
# expect_event NAME STDERR_FILE EXPECTED_TEXT: the entry's string on Wine's
# channel, which escapes it (\r, \n, \\, \") and cuts it at about 300
# characters: its unescaped beginning must begin the expected text.
expect_event() {
  if perl -e '
    my ($file, $expected) = @ARGV;
    open(my $f, "<", $file) or exit 2;
    while (my $line = <$f>) {
      next unless $line =~ /:eventlog:ReportEventW L"(.*)"/;
      my $text = $1;
      $text =~ s/\\(.)/$1 eq "r" ? "\r" : $1 eq "n" ? "\n" : $1 eq "t" ? "\t" : $1/ge;
      exit 0 if length($text) > 20 && index($expected, $text) == 0;
    }
    exit 1;
  ' "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    grep -a 'eventlog' "$2" | head -5
  fi
}
event_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ZEV_TQ270c'
# expect_registration NAME: the key holds the message file and the types.
expect_registration() {
  wine reg query "$event_key" </dev/null 2>/dev/null | tr -d '\r' >"$work/key.txt"
  if grep -qE '^ +EventMessageFile +REG_EXPAND_SZ +%SystemRoot%\\System32\\EventCreate\.exe$' \
    "$work/key.txt" && grep -qE '^ +TypesSupported +REG_DWORD +0x7$' "$work/key.txt"; then
    pass "$1"
  else
    fail "$1"
    cat "$work/key.txt"
  fi
}
expect_event "silent run, no drive: the Error entry's text on the eventlog channel" \
  "$work/silent.err" "$(printf '%s\r\nMode : update\r\nExit Status : 1' "$title")"
expect_registration "silent run, no drive: event source registered with EventCreate.exe"
wine reg add "$event_key" /v EventMessageFile /t REG_EXPAND_SZ /d 'C:\old\messages.dll' /f \
  </dev/null >/dev/null 2>&1
WINEDEBUG=trace+eventlog run eventcheck /c /s
expect_status "check after a foreign registration" 2 "$status"
expect_event "check: the Information entry's text on the eventlog channel" "$work/eventcheck.err" \
  "$(printf '%s\r\nMode : check\r\nExit Status : 2' "$title")"
expect_registration "check: a key naming another message file is rewritten"
# A key that names the message file (in another letter case) is left alone:
# the next run neither rewrites it nor adds TypesSupported.
wine reg delete "$event_key" /v TypesSupported /f </dev/null >/dev/null 2>&1
wine reg add "$event_key" /v EventMessageFile /t REG_EXPAND_SZ \
  /d '%SYSTEMROOT%\system32\eventcreate.exe' /f </dev/null >/dev/null 2>&1

# --- Without /s: the message box (no display) must not hold the run ---
run boxed
if [[ "$status" == 124 ]]; then
  fail "run without /s: still running after two minutes"
else
  expect_status "run without /s" 1 "$status"
fi
printf '\n >> ZEV Ended (Return Code : 1)\n\n' >"$work/boxed.expected"
tail -c "$(stat -c %s "$work/boxed.expected")" "$work/boxed.out" >"$work/boxed.tail"
expect_same "run without /s: ends with the end line" "$work/boxed.expected" "$work/boxed.tail"
wine reg query "$event_key" </dev/null 2>/dev/null | tr -d '\r' >"$work/key.txt"
if grep -qE '^ +EventMessageFile +REG_EXPAND_SZ +%SYSTEMROOT%\\system32\\eventcreate\.exe$' \
  "$work/key.txt" && ! grep -q TypesSupported "$work/key.txt"; then
  pass "run without /s: a key that names EventCreate.exe is left alone"
else
  fail "run without /s: a key that names EventCreate.exe is left alone"
  cat "$work/key.txt"
fi

# --- The file ---
"$objdump" -p "$exe" >"$work/headers.txt"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers.txt" | sort -u | tr '\n' ' ')
unexpected=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/headers.txt" |
  grep -viE '^(KERNEL32|USER32|SETUPAPI|ADVAPI32|bcrypt|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$')
# bcrypt.dll: the image's SHA-256 is computed with the system's CNG.
if [[ -z "$unexpected" ]] && grep -qi '^SETUPAPI.dll$' <<<"${imports// /$'\n'}" &&
  grep -qi '^bcrypt.dll$' <<<"${imports// /$'\n'}"; then
  pass "imports only system DLLs: $imports"
else
  fail "imports: $imports (not a system DLL: ${unexpected:-none}; SETUPAPI expected)"
fi
if grep -qE '^Subsystem[[:space:]]+00000002' "$work/headers.txt"; then
  pass "windowed subsystem (no console of its own)"
else
  fail "subsystem: $(grep '^Subsystem' "$work/headers.txt")"
fi

perl "$here/pe_resources.pl" "$exe" >"$work/resources.txt"
for line in 'fixed.FileVersion=1.0.2.0' 'string.040904b0.CompanyName=KELDORA' \
  'string.040904b0.ProductName=ZEV_TQ270c' 'string.040904b0.FileVersion=1.0.2' \
  "string.040904b0.OriginalFilename=$name"; do
  if grep -qxF "$line" "$work/resources.txt"; then
    pass "version resource: $line"
  else
    fail "version resource: $line"
  fi
done
if grep -q '^manifest\.1=.*<requestedExecutionLevel level="requireAdministrator"' \
  "$work/resources.txt"; then
  pass "manifest: requireAdministrator"
else
  fail "manifest: requireAdministrator"
fi

size=$(stat -c %s "$exe")
if ((size < 4 * 1024 * 1024)); then
  pass "size $size bytes, under 4 MiB"
else
  fail "size $size bytes, not under 4 MiB"
fi

if [[ -n "$image" ]]; then
  if perl -e '
    local $/;
    open(my $e, "<:raw", $ARGV[0]) or exit 2;
    open(my $i, "<:raw", $ARGV[1]) or exit 2;
    my ($exe, $img) = (scalar <$e>, scalar <$i>);
    exit !(length($img) == 2097152 && index($exe, $img) >= 0);
  ' "$exe" "$image"; then
    pass "the 2097152-byte firmware image is embedded unchanged"
  else
    fail "the firmware image $image is not embedded unchanged"
  fi
fi

if ((failures)); then
  echo "$failures check(s) of $name failed"
  exit 1
fi
echo "all checks of $name passed"
