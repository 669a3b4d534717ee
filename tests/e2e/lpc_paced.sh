#!/usr/bin/env bash
# The bundled 40 KB example at 38400 baud on a board paced like a real one
# (line rate, erase and programming times): it completes and the flash matches.
set -uo pipefail
. "$(dirname "$0")/lpc_lib.bash"
lpc_setup "$@"
examples="$(dirname "$0")/../../examples"

serve_lpc paced LPC2138 --paced
start=$(date +%s)
"$CLI" program "$examples/blinky-lpc2138.pr2" --port "$TMP/paced.port" --baud 38400 \
    >"$TMP/paced.out" 2>&1
rc=$?
seconds=$(($(date +%s) - start))
unserve paced
[ $rc -eq 0 ] || { cat "$TMP/paced.out"; fail "exit $rc"; }
check_flash paced "$examples/blinky-lpc2138.hex" 512000
# About 56,000 characters at 3840 a second, plus the erase: 15 s at least.
[ "$seconds" -ge 14 ] || fail "a paced run took only $seconds s"
echo "ok: paced run in $seconds s"
