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
echo "ok: three boards at once"

# Ctrl+C during three paced runs stops every one of them, and each aborted
# board still gets its record line. The image takes about 20 s at 38400 baud.
make_hex "$TMP/big.hex" "0 60000 3"
"$SIM" pack -o "$TMP/big.pr2" "F:LPC2138:4.3:$TMP/big.hex" || fail "pack big"
for name in p1 p2 p3; do
    serve_lpc "$name" LPC2138 --paced
done
"$CLI" program "$TMP/big.pr2" --port "$TMP/p1.port" --port "$TMP/p2.port" --port "$TMP/p3.port" \
    --record "$TMP/stopped.jsonl" >"$TMP/stopped.out" 2>&1 &
cli=$!
track $cli
sleep 2
kill -INT $cli
reap $cli
rc=$?
for name in p1 p2 p3; do
    unserve "$name"
done
[ $rc -eq 5 ] || { cat "$TMP/stopped.out"; fail "stop: exit $rc, not 5"; }
[ "$(grep -c '"result":5,"result_name":"Aborted"' "$TMP/stopped.jsonl")" -eq 3 ] ||
    fail "stop: not three aborted lines in the record"
for name in p1 p2 p3; do
    grep -qx "$TMP/$name.port: Aborted: Stopped on request before the run ended" "$TMP/stopped.out" ||
        fail "stop: no Aborted for $name"
done
echo "ok: Ctrl+C stops every board"
