#!/usr/bin/env bash
# A production station: korvel-cli programs three simulated LPC boards in one
# run, the second of which refuses the erase. The run ends with that board's
# result, the other two flashes equal the image, and the record file and
# standard output hold one JSON line per board.
set -uo pipefail
. "$(dirname "$0")/lpc_lib.bash"
lpc_setup "$@"

make_hex "$TMP/fw.hex" "0 3000 1" "8192 700 2"
"$SIM" pack -o "$TMP/fw.pr2" "F:LPC2138:4.2:$TMP/fw.hex" || fail "pack"
sha=$(sha256sum "$TMP/fw.pr2" | cut -d' ' -f1)

serve_lpc one LPC2138
serve_lpc two LPC2138 --fault refuse-erase
serve_lpc three LPC2138
"$CLI" program "$TMP/fw.pr2" --port "$TMP/one.port" --port "$TMP/two.port" \
    --port "$TMP/three.port" --record "$TMP/station.jsonl" --json \
    >"$TMP/out.jsonl" 2>"$TMP/err.txt"
rc=$?
unserve one
unserve two
unserve three
cat "$TMP/err.txt"
[ $rc -eq 4 ] || fail "korvel-cli ended with $rc, not the refusing board's 4"
check_flash one "$TMP/fw.hex" 512000
check_flash three "$TMP/fw.hex" 512000

# record_line NAME: the one line of the record for the board NAME.
record_line() {
    local lines
    lines=$(grep -F "\"port\":\"$TMP/$1.port\"" "$TMP/station.jsonl")
    [ "$(printf '%s\n' "$lines" | wc -l)" -eq 1 ] || fail "$1: not one record line"
    printf '%s\n' "$lines"
}
[ "$(wc -l <"$TMP/station.jsonl")" -eq 3 ] || fail "the record holds not three lines"
for name in one two three; do
    line=$(record_line "$name")
    for field in "\"package\":\"$TMP/fw.pr2\"" "\"package_sha256\":\"$sha\"" '"kind":"F"' \
        '"name":"LPC2138"' '"version":"4.2"' '"chip":"LPC2138 (500k)"' \
        '"part_id":"196389"' '"device":"/dev/pts/' '"verified":false'; do
        [[ $line == *"$field"* ]] || fail "$name: no $field in $line"
    done
    [[ $line =~ \"start\":\"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z\" ]] || fail "$name: start"
done
[[ $(record_line one) == *'"result":0,"result_name":"Success"'* ]] || fail "one: result"
[[ $(record_line three) == *'"result":0,"result_name":"Success"'* ]] || fail "three: result"
[[ $(record_line two) == *'"result":4,"result_name":"ProgrammingError"'* ]] || fail "two: result"
cmp <(sort "$TMP/out.jsonl") <(sort "$TMP/station.jsonl") || fail "stdout and the record differ"
grep -q "^$TMP/two.port: Programming error\(: .\+\)\?$" "$TMP/err.txt" || fail "no message for two"
grep -qx "$TMP/one.port: Programming succesful" "$TMP/err.txt" || fail "no message for one"

# The same port twice is a usage error, and nothing is recorded.
"$CLI" program "$TMP/fw.pr2" --port "$TMP/one.port" --port "$TMP/one.port" \
    --record "$TMP/station.jsonl" >/dev/null 2>&1
rc=$?
[ $rc -eq 64 ] || fail "the same port twice ended with $rc, not 64"
[ "$(wc -l <"$TMP/station.jsonl")" -eq 3 ] || fail "a usage error wrote to the record"
# So is the same device under two names: a relative link and the pty itself.
serve_lpc twin LPC2138
pty=$(readlink -f "$TMP/twin.port")
(cd "$TMP" && "$CLI" program fw.pr2 --port ./twin.port --port "$pty" >/dev/null 2>"$TMP/twice.err")
rc=$?
unserve twin
[ $rc -eq 64 ] || fail "./twin.port and $pty ended with $rc, not 64: $(cat "$TMP/twice.err")"
grep -qF "are the same device $pty" "$TMP/twice.err" || fail "not said: $(cat "$TMP/twice.err")"
echo "ok: three boards at once"

# await_boards OUT NAME...: waits until every named board's run reports progress.
await_boards() {
    local out=$1 name
    shift
    for name in "$@"; do
        await_line "$out" "^$TMP/$name.port: Progress: 10%" "$cli"
    done
}

# Stop requests during three paced runs (the image takes about 20 s at 38400
# baud): Ctrl+C stops every run; two SIGTERMs back to back, as a supervisor
# that signals the process and its group sends them, end the process at
# once. Either way each board gets its record line and its JSON line.
make_hex "$TMP/big.hex" "0 60000 3"
"$SIM" pack -o "$TMP/big.pr2" "F:LPC2138:4.3:$TMP/big.hex" || fail "pack big"
for stop in INT TERM+TERM; do
    for name in p1 p2 p3; do
        serve_lpc "$name" LPC2138 --paced
    done
    rm -f "$TMP/stopped.jsonl"
    "$CLI" program "$TMP/big.pr2" --port "$TMP/p1.port" --port "$TMP/p2.port" \
        --port "$TMP/p3.port" --record "$TMP/stopped.jsonl" --json \
        >"$TMP/stopped.json" 2>"$TMP/stopped.out" &
    cli=$!
    track $cli
    await_boards "$TMP/stopped.out" p1 p2 p3
    for signal in ${stop//+/ }; do
        kill -$signal $cli
    done
    reap $cli
    rc=$?
    for name in p1 p2 p3; do
        unserve "$name"
    done
    [ $rc -eq 5 ] || { cat "$TMP/stopped.out"; fail "$stop: exit $rc, not 5"; }
    for file in stopped.jsonl stopped.json; do
        [ "$(grep -c '"result":5,"result_name":"Aborted"' "$TMP/$file")" -eq 3 ] &&
            [ "$(wc -l <"$TMP/$file")" -eq 3 ] ||
            fail "$stop: not three aborted lines in $file: $(cat "$TMP/$file")"
    done
    for name in p1 p2 p3; do
        grep -q "^$TMP/$name.port: \(Aborted\|stopped at once\)" "$TMP/stopped.out" ||
            fail "$stop: nothing said for $name: $(cat "$TMP/stopped.out")"
    done
    echo "ok: SIG$stop stops every board, each with its record line"
done

# A reader of --json that goes away: the boards and the record go on, the
# failure is said and the exit is 74.
for name in q1 q2; do
    serve_lpc "$name" LPC2138 --paced
done
mkfifo "$TMP/json.fifo"
exec 3<>"$TMP/json.fifo"
"$CLI" program "$TMP/fw.pr2" --port "$TMP/q1.port" --port "$TMP/q2.port" \
    --record "$TMP/reader.jsonl" --json >"$TMP/json.fifo" 2>"$TMP/reader.out" 3>&- &
cli=$!
track $cli
await_boards "$TMP/reader.out" q1 q2
exec 3>&-
reap $cli
rc=$?
unserve q1
unserve q2
[ $rc -eq 74 ] || fail "reader gone: exit $rc, not 74: $(cat "$TMP/reader.out")"
[ "$(grep -c '"result":0' "$TMP/reader.jsonl")" -eq 2 ] || fail "reader gone: record lost lines"
check_flash q1 "$TMP/fw.hex" 512000
check_flash q2 "$TMP/fw.hex" 512000
grep -q "standard output takes no more JSON lines" "$TMP/reader.out" ||
    fail "reader gone: not said: $(cat "$TMP/reader.out")"
echo "ok: a reader of --json that goes away is said, the boards and the record go on"

# A record file that nothing would take is refused before any board is
# touched (the port is not there: reaching it would give 1), at once.
mkfifo "$TMP/record.fifo"
timeout 10 "$CLI" program "$TMP/fw.pr2" --port /dev/korvel-no-such-port \
    --record "$TMP/record.fifo" >"$TMP/fifo.out" 2>&1
rc=$?
[ $rc -eq 74 ] || fail "a FIFO without a reader as the record: exit $rc: $(cat "$TMP/fifo.out")"
echo "ok: a record FIFO without a reader is refused at once"

# Serial numbers: three boards at once, their ids typed on standard input,
# their numbers from a counter file: consecutive in port order, at flash
# 0x800 as u32le, checked by the chip's compare, each in its record.
echo 5000 >"$TMP/serial.txt"
for name in s1 s2 s3; do
    serve_lpc "$name" LPC2138
done
printf 'A-1\nA-2\nA-3\n' | "$CLI" program "$TMP/fw.pr2" --port "$TMP/s1.port" \
    --port "$TMP/s2.port" --port "$TMP/s3.port" --board-ids - --serial 0x800:u32le \
    --serial-counter "$TMP/serial.txt" --verify --json >"$TMP/serial.jsonl" 2>"$TMP/serial.err"
rc=$?
for name in s1 s2 s3; do
    unserve "$name"
done
[ $rc -eq 0 ] || fail "serial numbers: exit $rc: $(cat "$TMP/serial.err")"
[ "$(cat "$TMP/serial.txt")" = 5003 ] || fail "the counter holds $(cat "$TMP/serial.txt"), not 5003"
# 5000, 5001, 5002 least significant byte first.
for board in "s1 1 \x88" "s2 2 \x89" "s3 3 \x8a"; do
    read -r name n low <<<"$board"
    expected_flash "$TMP/fw.hex" 512000 "$TMP/$name.expected"
    printf "$low\x13\x00\x00" | dd of="$TMP/$name.expected" bs=1 seek=2048 conv=notrunc status=none
    cmp "$TMP/$name.expected" "$TMP/$name.bin" || fail "$name: flash is not the image with its number"
    line=$(grep -F "\"port\":\"$TMP/$name.port\"" "$TMP/serial.jsonl")
    for field in "\"board_id\":\"A-$n\"" "\"serial\":$((4999 + n)),\"serial_void\":false" \
        '"verify":"compare","verified":true' '"result":0'; do
        [[ $line == *"$field"* ]] || fail "$name: no $field in $line"
    done
done
[ "$(grep -o '"image_sha256":"[0-9a-f]\{64\}"' "$TMP/serial.jsonl" | sort -u | wc -l)" -eq 3 ] ||
    fail "not three images as programmed: $(cat "$TMP/serial.jsonl")"
echo "ok: three boards get consecutive serial numbers in their flash and their records"

# A run killed while it programs has spent its numbers: the next run goes on
# after them, and a number never goes out twice.
for name in k1 k2; do
    serve_lpc "$name" LPC2138 --paced
done
"$CLI" program "$TMP/big.pr2" --port "$TMP/k1.port" --port "$TMP/k2.port" --serial 0x800:u32le \
    --serial-counter "$TMP/serial.txt" >"$TMP/killed.out" 2>&1 &
cli=$!
track $cli
await_boards "$TMP/killed.out" k1 k2
kill -KILL $cli
reap $cli
unserve k1
unserve k2
[ "$(cat "$TMP/serial.txt")" = 5005 ] || fail "after the killed run the counter holds $(cat "$TMP/serial.txt")"
serve_lpc k3 LPC2138
"$CLI" program "$TMP/fw.pr2" --port "$TMP/k3.port" --serial 0x800:u32le \
    --serial-counter "$TMP/serial.txt" --json >"$TMP/after.jsonl" 2>"$TMP/after.err"
rc=$?
unserve k3
[ $rc -eq 0 ] || fail "the run after the killed one: exit $rc: $(cat "$TMP/after.err")"
grep -q '"serial":5005,' "$TMP/after.jsonl" || fail "not 5005 after the killed run: $(cat "$TMP/after.jsonl")"
echo "ok: a killed run's numbers are never handed out again"

# A serial number that cannot go where it is asked is refused before any
# board is touched, and spends no number.
"$CLI" program "$TMP/fw.pr2" --port /dev/korvel-no-such-port --serial 0x10:u32le \
    --serial-counter "$TMP/serial.txt" >"$TMP/vectors.out" 2>&1
rc=$?
[ $rc -eq 64 ] || fail "a serial number in the vectors: exit $rc: $(cat "$TMP/vectors.out")"
[ "$(cat "$TMP/serial.txt")" = 5006 ] || fail "a refused run spent a number"
echo "ok: a serial number in the vectors is refused before any board"

# A station pinned to another package touches no board: exit 66, and the
# board saw no command; the pinned package itself programs.
serve_lpc pin LPC2138
"$CLI" program "$TMP/fw.pr2" --port "$TMP/pin.port" --expect-sha256 "$(printf '%064d' 0)" \
    >"$TMP/pin.out" 2>&1
rc=$?
unserve pin
[ $rc -eq 66 ] || fail "another package than the pinned one: exit $rc: $(cat "$TMP/pin.out")"
grep -q "not the pinned one" "$TMP/pin.out" || fail "the refusal does not say why: $(cat "$TMP/pin.out")"
grep -q ", 0 commands," "$TMP/pin.log" || fail "the pinned station touched the board: $(cat "$TMP/pin.log")"
serve_lpc pinned LPC2138
"$CLI" program "$TMP/fw.pr2" --port "$TMP/pinned.port" --expect-sha256 "$sha" >"$TMP/pin.out" 2>&1
rc=$?
unserve pinned
[ $rc -eq 0 ] || fail "the pinned package itself: exit $rc: $(cat "$TMP/pin.out")"
echo "ok: a pinned station refuses another package with the board untouched"
