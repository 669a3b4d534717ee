#!/usr/bin/env bash
# The window in a real X server: Xvfb, the window on a simulated LPC2138
# (korvel-sim on a pty), driven with xdotool as a technician would: F3, then
# Space on the message's button. The board's flash must equal the image, and
# a screenshot of the screen with the message is taken. Skipped (77) only
# where Xvfb cannot start.
# xvfb_window.sh KORVEL KORVEL_CLI KORVEL_SIM [SCREENSHOT_OUT]
set -uo pipefail
KORVEL=${1:-}
shift
. "$(dirname "$0")/../e2e/lpc_lib.bash"
lpc_setup "$1" "$2"
SHOT_OUT=${3:-}
[ -x "$KORVEL" ] || { echo "usage: $0 KORVEL KORVEL_CLI KORVEL_SIM [SCREENSHOT_OUT]" >&2; exit 64; }
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed (scripts/setup installs it)"; exit 77; }
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/setup installs it)"

# A display of its own, numbered by the server (-displayfd), with its screen
# kept as an XWD file in $TMP/fb: that file is the screenshot.
mkdir -p "$TMP/fb"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -fbdir "$TMP/fb" \
    3>"$TMP/display" >"$TMP/xvfb.log" 2>&1 &
xvfb=$!
track "$xvfb"
for _ in $(seq 100); do
    [ -s "$TMP/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
if [ ! -s "$TMP/display" ]; then
    echo "SKIP: Xvfb could not start here: $(cat "$TMP/xvfb.log")"
    exit 77
fi
export DISPLAY=":$(head -n1 "$TMP/display")"

make_hex "$TMP/fw.hex" "0 6000 3"
"$SIM" pack -o "$TMP/fw.pr2" "F:LPC2138:4.2:$TMP/fw.hex" || fail "pack"
serve_lpc board LPC2138

# The window's own copy with its settings beside it: the package loaded, COM7
# mapped to the board's pty.
mkdir -p "$TMP/bin"
cp "$KORVEL" "$TMP/bin/korvel"
printf '[SETTINGS]\r\nLastFiles=%s\r\nSerialPort=7\r\nAutoRun=0\r\n[PORTS]\r\nCOM7=%s\r\n' \
    "$TMP/fw.pr2" "$TMP/board.port" >"$TMP/bin/korvel.ini"
XDG_RUNTIME_DIR="$TMP" QT_QPA_PLATFORM=xcb "$TMP/bin/korvel" >"$TMP/korvel.log" 2>&1 &
window_pid=$!
track "$window_pid"

# windows NAME: the ids of the shown windows whose title holds NAME.
windows() {
    xdotool search --onlyvisible --name "$1" 2>/dev/null
}
await_windows() {
    local count=$1
    for _ in $(seq 200); do
        [ "$(windows 'Korvel V' | wc -l)" -ge "$count" ] && return 0
        kill -0 "$window_pid" 2>/dev/null || fail "korvel ended: $(cat "$TMP/korvel.log")"
        sleep 0.1
    done
    fail "not $count Korvel windows on the screen: $(cat "$TMP/korvel.log")"
}

await_windows 1
main=$(windows 'Korvel V' | head -n1)
xdotool windowfocus --sync "$main" || fail "the window took no focus"
xdotool key F3
# The run ends with the message: a second window of the program.
await_windows 2
dialog=$(windows 'Korvel V' | grep -vx "$main" | head -n1)
sleep 0.5  # drawn before it is shot
cp "$TMP/fb/Xvfb_screen0" "$TMP/screen.xwd" || fail "no screenshot"
xdotool windowfocus --sync "$dialog" || fail "the message took no focus"
xdotool key space
for _ in $(seq 100); do
    [ "$(windows 'Korvel V' | wc -l)" -eq 1 ] && break
    sleep 0.1
done
[ "$(windows 'Korvel V' | wc -l)" -eq 1 ] || fail "the message did not close on its button"

# Ctrl+X ends the program with 5.
xdotool windowfocus --sync "$main"
xdotool key ctrl+x
rc=0
reap "$window_pid" || rc=$?
[ $rc -eq 5 ] || fail "korvel ended with $rc, not Ctrl+X's 5: $(cat "$TMP/korvel.log")"
unserve board
check_flash board "$TMP/fw.hex" 512000

# The screenshot: an XWD image of the 1024x768 screen with more than a blank
# background on it.
[ "$(stat -c %s "$TMP/screen.xwd")" -gt $((1024 * 768 * 3)) ] || fail "the screenshot is too small"
colours=$(od -An -v -tx1 -j 8192 -N 2000000 "$TMP/screen.xwd" | tr -s ' ' '\n' | sort -u | wc -l)
[ "$colours" -gt 16 ] || fail "the screenshot holds only $colours byte values: nothing drawn"
[ -n "$SHOT_OUT" ] && cp "$TMP/screen.xwd" "$SHOT_OUT"
echo "ok: F3 and the message's button in a real X server; flash and screenshot checked"
