#!/usr/bin/env bash
# Runs a Windows program under Wine: the cross-compiling emulator of the
# windows preset, and the runner of the Wine end-to-end checks.
# Usage: wine-run.sh [--com-pair] PREFIX-DIR PROGRAM.exe [ARGS...]
#
# The prefix is made once and kept (its first start is slow); WINEPREFIX in
# the environment wins over PREFIX-DIR. With --com-pair, and when socat is
# there, two COM ports of the prefix are joined by a null-modem pair of ptys
# while the program runs, and KORVEL_TEST_COM_PAIR names them ("21,22").
# Programs with a window want DISPLAY (scripts/test-windows starts one Xvfb
# for all); without it each gets an Xvfb of its own.
set -u
com_pair=false
if [ "${1:-}" = "--com-pair" ]; then
  com_pair=true
  shift
fi
prefix_dir="$1"
shift
# Wine takes only an absolute prefix path.
WINEPREFIX=$(realpath -m "${WINEPREFIX:-$prefix_dir}")
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko prompts: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  echo "wine-run: wine64 not found (scripts/test-windows installs it)" >&2
  exit 127
fi

# One prefix for every run; two runs starting at once must not both make it.
# Qt programs write their messages to the console they were started from:
# Wine gives them none, and hands no QT_* variable of ours to them, so the
# prefix's own environment says so.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1
  fi
  if [ ! -f "$WINEPREFIX/.korvel-environment" ]; then
    "$wine" reg add 'HKCU\Environment' /v QT_ASSUME_STDERR_HAS_CONSOLE /d 1 /f >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.korvel-environment"
  fi
) 9>"$WINEPREFIX.lock"

# Wine needs an X display for any window, a hidden one of the offscreen
# platform too: without one, the program gets a display of its own.
xvfb=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb=(xvfb-run -a)
fi

pair_pid=""
first=21
second=22
dev="$WINEPREFIX/dosdevices"
cleanup() {
  if [ -n "$pair_pid" ]; then
    kill "$pair_pid" 2>/dev/null
    wait "$pair_pid" 2>/dev/null
    rm -f "$dev/com$first" "$dev/com$second"
  fi
}
trap cleanup EXIT

if $com_pair && command -v socat >/dev/null; then
  rm -f "$dev/com$first" "$dev/com$second"
  socat pty,raw,echo=0,link="$dev/com$first" pty,raw,echo=0,link="$dev/com$second" \
    >/dev/null 2>&1 &
  pair_pid=$!
  for _ in $(seq 50); do
    [ -e "$dev/com$first" ] && [ -e "$dev/com$second" ] && break
    sleep 0.1
  done
  export KORVEL_TEST_COM_PAIR="$first,$second"
fi

"${xvfb[@]}" "$wine" "$@"
