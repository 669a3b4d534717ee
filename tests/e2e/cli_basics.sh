#!/usr/bin/env bash
# korvel-cli as a program: package listing, refusals, the outcome of a run
# whose kind selects no procedure, and stop requests (Ctrl+C, SIGTERM, SIGHUP)
# at a prompt, during a run and during a run that cannot be stopped.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"
examples="$(dirname "$0")/../../examples"

# wait_for FILE TEXT: waits up to 20 s for TEXT to appear in FILE.
wait_for() {
    for _ in $(seq 400); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "'$2' never came: $(cat "$1")"
}

printf 'not a package' > "$TMP/bad.pr2"
printf 'hello' > "$TMP/data.bin"
"$SIM" pack -o "$TMP/kind5.pr2" "5:DEVICE5:2.01:$TMP/data.bin" "x:SECOND:0.1:$TMP/data.bin" || fail "pack"

out=$("$CLI" info "$TMP/kind5.pr2"); rc=$?
[ $rc -eq 0 ] || fail "info exit $rc"
echo "$out" | grep -q "DEVICE5 *2.01 *5 *'5'" || fail "info entry 0: $out"
echo "$out" | grep -q "SECOND" || fail "info entry 1: $out"
echo "$out" | grep -q "no programming procedure" || fail "info procedure: $out"

"$CLI" info "$TMP/bad.pr2" >/dev/null 2>"$TMP/err"; rc=$?
[ $rc -eq 66 ] || fail "bad package exit $rc"
grep -q "cannot load the package" "$TMP/err" || fail "bad package message"

# A kind without a procedure ends with 2 and the window's message; no port is touched.
out=$("$CLI" program "$TMP/kind5.pr2" --port /dev/korvel-no-such-port); rc=$?
[ $rc -eq 2 ] || fail "unsupported kind exit $rc"
echo "$out" | grep -q "^Device not supported$" || fail "message: $out"
echo "$out" | tail -n 1 | grep -q "^Please check for Korvel updates: No procedure of this version programs packages of kind '.*'$" ||
    fail "message: $out"

# A malformed HEX image is a malformed package: 66 before the port is
# touched (reaching the port, which is not there, would give 1). An address
# record of the wrong length; an end record with a wrong checksum.
for hex in ':03000004000100F8\n:0400000012345678E8\n:00000001FF\n' \
    ':0400000012345678E8\n:00000001FE\n'; do
    printf "$hex" >"$TMP/bad.hex"
    "$SIM" pack -o "$TMP/badhex.pr2" "F:LPC2138:1.0:$TMP/bad.hex" || fail "pack bad hex"
    out=$("$CLI" program "$TMP/badhex.pr2" --port /dev/korvel-no-such-port 2>&1); rc=$?
    [ $rc -eq 66 ] || fail "malformed HEX ($hex): exit $rc: $out"
    grep -qF "The package's firmware image cannot be programmed: line " <<<"$out" ||
        fail "malformed HEX ($hex): $out"
done

# Control characters in a package's texts reach the terminal escaped.
"$SIM" pack -o "$TMP/esc.pr2" "5:$(printf 'A\033[2J'):$(printf '1\a2'):$TMP/data.bin" || fail "pack esc"
out=$("$CLI" info "$TMP/esc.pr2"); rc=$?
[ $rc -eq 0 ] || fail "info esc exit $rc"
grep -qF 'A\x1B[2J' <<<"$out" || fail "name not escaped: $out"
grep -qF '1\x072' <<<"$out" || fail "version not escaped: $out"
grep -q $'[\033\a]' <<<"$out" && fail "a control character reached the terminal raw"

# A FIFO is refused at once, never opened (opening it would wait for a writer).
mkfifo "$TMP/fifo.pr2"
for command in info program; do
    timeout 10 "$CLI" $command "$TMP/fifo.pr2" >/dev/null 2>"$TMP/err"; rc=$?
    [ $rc -eq 66 ] || fail "$command on a FIFO: exit $rc"
    grep -q "not a regular file" "$TMP/err" || fail "FIFO message: $(cat "$TMP/err")"
done

# A port given as a device path is named by that path.
out=$("$CLI" program "$examples/blinky-lpc2138.pr2" --port /dev/korvel-no-such-port); rc=$?
[ $rc -eq 1 ] || fail "missing device path: exit $rc"
grep -q "^Unable to open port /dev/korvel-no-such-port: /dev/korvel-no-such-port: " <<<"$out" ||
    fail "port name: $out"
grep -q "COM" <<<"$out" && fail "a COM name for a device path: $out"

# Ctrl+C or SIGHUP at the access-code prompt ends at once with 5. The thread
# sanitizer holds a signal that comes inside the C library's own read until
# that read returns, so under it the prompt cannot see one.
"$SIM" pack -o "$TMP/kind7.pr2" "7:GUARDED:1.0:$TMP/data.bin" || fail "pack kind 7"
mkfifo "$TMP/keys"
prompt_signals=(INT HUP)
[[ "${KORVEL_SANITIZE:-}" == *thread* ]] && prompt_signals=()
for signal in "${prompt_signals[@]}"; do
    sleep 30 >"$TMP/keys" &
    writer=$!
    track $writer
    "$CLI" program "$TMP/kind7.pr2" --port /dev/korvel-no-such-port <"$TMP/keys" >"$TMP/prompt-$signal.out" 2>&1 &
    cli=$!
    track $cli
    wait_for "$TMP/prompt-$signal.out" "Password:"
    kill -$signal $cli
    rc=0
    timeout 3 tail --pid=$cli -f /dev/null || fail "SIG$signal at the prompt: still waiting"
    reap $cli || rc=$?
    [ $rc -eq 5 ] || fail "SIG$signal at the prompt: exit $rc"
    kill $writer 2>/dev/null
    reap $writer
done

# A package rebuilt while the access code was typed is loaded again (and
# shown) before the run; one that no longer loads is refused.
exec 3<>"$TMP/keys"
for change in rebuilt broken; do
    "$SIM" pack -o "$TMP/changing.pr2" "7:OLD:1.0:$TMP/data.bin" || fail "pack changing"
    "$CLI" program "$TMP/changing.pr2" --port /dev/korvel-no-such-port <"$TMP/keys" \
        >"$TMP/$change.out" 2>&1 &
    cli=$!
    track $cli
    wait_for "$TMP/$change.out" "Password:"
    if [ $change = rebuilt ]; then
        printf 'hello, again' >"$TMP/data2.bin"
        "$SIM" pack -o "$TMP/changing.pr2" "7:NEW:2.5:$TMP/data2.bin" || fail "pack new"
    else
        printf 'not a package' >"$TMP/changing.pr2"
    fi
    echo kzt >&3
    rc=0
    reap $cli || rc=$?
    out=$(cat "$TMP/$change.out")
    # The piped line end is not shown: the prompt's line is ended for it.
    grep -qx "Password: " <<<"$out" || fail "$change package: prompt line not ended: $out"
    if [ $change = rebuilt ]; then
        [ $rc -eq 2 ] || fail "rebuilt package: exit $rc: $out"
        grep -qF "The package changed on disk and was loaded again: Device: NEW, Version: 2.5" \
            <<<"$out" || fail "rebuilt package: $out"
    else
        [ $rc -eq 66 ] || fail "broken package: exit $rc: $out"
        grep -qF "The package changed on disk and no longer loads; nothing was programmed" \
            <<<"$out" || fail "broken package: $out"
    fi
done
exec 3>&-

# SIGTERM from a supervisor stops a run: the procedure stops, the port is
# closed, the exit code is 5.
serve paced lpc --chip LPC2138 --paced
"$CLI" program "$examples/blinky-lpc2138.pr2" --port "$TMP/paced.port" >"$TMP/term.out" 2>&1 &
cli=$!
track $cli
wait_for "$TMP/term.out" "Progress: 10%"
kill -TERM $cli
rc=0
reap $cli || rc=$?
unserve paced
[ $rc -eq 5 ] || fail "SIGTERM during a run: exit $rc: $(cat "$TMP/term.out")"
grep -qx "Aborted: Stopped on request before the run ended" "$TMP/term.out" ||
    fail "SIGTERM: no Aborted: $(cat "$TMP/term.out")"

# A boot-monitor run cannot be stopped: Ctrl+C says so, a second one quits now.
"$SIM" pack -o "$TMP/monitor.pr2" "9:RV4500:3.02:$TMP/data.bin" || fail "pack monitor"
serve monitor monitor --power-on-ms 5000
"$CLI" program "$TMP/monitor.pr2" --port "$TMP/monitor.port" >"$TMP/monitor.out" 2>&1 &
cli=$!
track $cli
wait_for "$TMP/monitor.out" "Status:"
kill -INT $cli
wait_for "$TMP/monitor.out" "the boot monitor run cannot be stopped; it ends by itself; Ctrl+C again quits now"
grep -q "Stopping" "$TMP/monitor.out" && fail "a boot-monitor run said it was stopping"
kill -INT $cli
rc=0
reap $cli || rc=$?
unserve monitor
[ $rc -eq 5 ] || fail "second Ctrl+C: exit $rc"

"$CLI" program >/dev/null 2>&1; rc=$?
[ $rc -eq 64 ] || fail "usage exit $rc"
"$CLI" --help | grep -q "Exit codes" || fail "help"
echo "ok"
