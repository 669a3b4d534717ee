#!/usr/bin/env bash
# The Windows korvel-cli under Wine programs the simulated LPC2138 through
# \\.\COM<n>: korvel-sim (native) serves the chip's boot loader on a pty, the
# prefix's dosdevices/com<n> leads to that pty, and the flash dump must equal
# the image. Then the same program on a COM port that is not there. Given the
# window too, it programs the board unattended (-C -F -R -U) the same way.
# Usage: lpc_wine_e2e.sh KORVEL_CLI_EXE KORVEL_SIM WINE_PREFIX_DIR [KORVEL_EXE]
# Exit 77 (skipped) when korvel-sim has no lpc model.
set -uo pipefail
cli="$1"
sim="$2"
prefix=$(realpath -m "${WINEPREFIX:-$3}")
window="${4:-}"
here="$(cd "$(dirname "$0")" && pwd)"
examples="$(cd "$here/../../examples" && pwd)"
run() { bash "$here/wine-run.sh" "$prefix" "$@"; }

if ! "$sim" --help 2>/dev/null | grep -qE '^  lpc '; then
  echo "SKIP: $sim has no lpc model (korvel-sim lpc); the Wine end-to-end run needs it"
  exit 77
fi

# The boards, the expected flash and the clean-up are the native runs' own.
. "$here/../e2e/lpc_lib.bash"
lpc_setup "$cli" "$sim"

port=7
missing=9
dev="$prefix/dosdevices"
trap 'rm -f "$dev/com$port"; e2e_cleanup' EXIT

# Make the prefix before a pty is linked into it.
run cmd /c exit 0 >/dev/null 2>&1
mkdir -p "$dev"
rm -f "$dev/com$port" "$dev/com$missing"

serve_lpc lpc2138 LPC2138
ln -s "$TMP/lpc2138.port" "$dev/com$port"
run "$cli" program "Z:$examples/blinky-lpc2138.pr2" --port "COM$port" >"$TMP/out" 2>&1
rc=$?
unserve lpc2138
out=$(tr -d '\r' <"$TMP/out")
[ $rc -eq 0 ] || fail "korvel-cli.exe ended with $rc: $out"
# A here-string, not echo | grep -q: under pipefail the echo fails when grep
# stops early on a long output (a wineserver it started may dump its objects
# there).
grep -q "^Programming succesful$" <<<"$out" || fail "no success message: $out"
grep -q "the new firmware was started" "$TMP/lpc2138.log" || fail "firmware not started"
check_flash lpc2138 "$examples/blinky-lpc2138.hex" 512000
echo "ok: COM$port"

# No port behind COM<n>: the run ends before it starts.
run "$cli" program "Z:$examples/blinky-lpc2138.pr2" --port "COM$missing" >"$TMP/out" 2>&1
rc=$?
out=$(tr -d '\r' <"$TMP/out")
[ $rc -eq 1 ] || fail "missing port: exit $rc: $out"
# The result, then why and what to do.
grep -q "^Unable to open port COM$missing: .*File not found\. Check the cable and the port number" \
    <<<"$out" || fail "missing port message: $out"
echo "ok: COM$missing missing"

[ -n "$window" ] || exit 0
# The window, unattended: it exits with the run's result. Its settings file
# lands beside it (the build tree) unless one was there.
settings="$(dirname "$window")/korvel.ini"
[ -e "$settings" ] && keep_settings=true || keep_settings=false
serve_lpc window LPC2138
ln -sfn "$TMP/window.port" "$dev/com$port"
run "$window" "-C$port" "-FZ:$examples/blinky-lpc2138.pr2" -RRUN -U1 >"$TMP/out" 2>&1
rc=$?
unserve window
$keep_settings || rm -f "$settings"
[ $rc -eq 0 ] || fail "korvel.exe ended with $rc: $(tr -d '\r' <"$TMP/out")"
grep -q "the new firmware was started" "$TMP/window.log" || fail "window: firmware not started"
check_flash window "$examples/blinky-lpc2138.hex" 512000
echo "ok: korvel.exe -C$port"
