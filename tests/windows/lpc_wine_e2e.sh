#!/usr/bin/env bash
# The Windows korvel-cli under Wine programs the simulated LPC2138 through
# \\.\COM<n>: korvel-sim (native) serves the chip's boot loader on a pty, the
# prefix's dosdevices/com<n> leads to that pty, and the flash dump must equal
# the image. Then the same program on a COM port that is not there.
# Usage: lpc_wine_e2e.sh KORVEL_CLI_EXE KORVEL_SIM WINE_PREFIX_DIR
# Exit 77 (skipped) when korvel-sim has no lpc model.
set -u
cli="$1"
sim="$2"
prefix=$(realpath -m "${WINEPREFIX:-$3}")
here="$(cd "$(dirname "$0")" && pwd)"
examples="$here/../../examples"
run() { bash "$here/wine-run.sh" "$prefix" "$@"; }
fail() {
  echo "FAIL: $*"
  exit 1
}

if ! "$sim" --help 2>/dev/null | grep -qE '^  lpc '; then
  echo "SKIP: $sim has no lpc model (korvel-sim lpc); the Wine end-to-end run needs it"
  exit 77
fi

port=7
missing=9
dev="$prefix/dosdevices"
tmp=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -f "$dev/com$port"
  rm -rf "$tmp"
}
trap cleanup EXIT

# Make the prefix before the simulator's pty is linked into it.
run cmd /c exit 0 >/dev/null 2>&1
mkdir -p "$dev"
rm -f "$dev/com$port" "$dev/com$missing"

"$sim" pack -o "$tmp/blinky.pr2" "F:LPC2138:1.00:$examples/blinky-lpc2138.hex" || fail "pack"
objcopy -I ihex -O binary "$examples/blinky-lpc2138.hex" "$tmp/image.bin" || fail "objcopy"

"$sim" lpc --chip LPC2138 --link "$dev/com$port" --flash-out "$tmp/flash.bin" \
  >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  [ -e "$dev/com$port" ] && break
  sleep 0.1
done
[ -e "$dev/com$port" ] || fail "korvel-sim made no pty: $(cat "$tmp/sim.log")"

run "$cli" program "Z:$tmp/blinky.pr2" --port "COM$port" >"$tmp/out" 2>&1
rc=$?
out=$(tr -d '\r' <"$tmp/out")
[ $rc -eq 0 ] || fail "program exit $rc: $out"
echo "$out" | grep -q "^Programming succesful$" || fail "message: $out"

kill "$sim_pid"
wait "$sim_pid" 2>/dev/null
sim_pid=""
[ -s "$tmp/flash.bin" ] || fail "no flash dump: $(cat "$tmp/sim.log")"

# The image as written, but for the word at 0x14 that the procedure sets so
# that the eight exception vectors add up to zero.
size=$(stat -c %s "$tmp/image.bin")
cmp -n 20 "$tmp/image.bin" "$tmp/flash.bin" || fail "flash differs from the image below 0x14"
cmp -i 24 -n $((size - 24)) "$tmp/image.bin" "$tmp/flash.bin" ||
  fail "flash differs from the image above 0x17"
sum=0
for word in $(od -An -tu4 -N32 -v "$tmp/flash.bin"); do
  sum=$(((sum + word) & 0xFFFFFFFF))
done
[ "$sum" -eq 0 ] || fail "the exception vectors add up to $sum, not 0"

# No port behind COM<n>: the run ends before it starts.
run "$cli" program "Z:$tmp/blinky.pr2" --port "COM$missing" >"$tmp/out" 2>&1
rc=$?
out=$(tr -d '\r' <"$tmp/out")
[ $rc -eq 1 ] || fail "missing port exit $rc: $out"
echo "$out" | grep -q "^Unable to open port COM$missing$" || fail "missing port message: $out"

echo "ok"
