#!/usr/bin/env bash
# korvel-cli against the resident-loader simulator over a pty: both package
# kinds with several image sizes, whose flash must then hold the image; a
# board that stops answering; and Ctrl+C in the middle of a run.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

# The flash from 98304 as it must be: `bytes` of the file, then 0xFF up to `length`.
expected_flash() {
    local file=$1 length=$2
    local size
    size=$(stat -c %s "$file")
    cat "$file"
    head -c $((length - size)) /dev/zero | tr '\0' '\377'
}

run_kind() {
    local kind=$1 size=$2
    local name="kind '$kind', $size bytes"
    head -c "$size" /dev/urandom >"$TMP/image.bin"
    "$SIM" pack -o "$TMP/fw.pr2" "$kind:BOARD:1.00:$TMP/image.bin" || fail "pack $name"
    serve board resident --flash-out "$TMP/flash.bin"
    "$CLI" program "$TMP/fw.pr2" --port "$TMP/board.port" >"$TMP/cli.log" 2>&1
    local rc=$?
    unserve board
    [[ $rc -eq 0 ]] || fail "$name: exit code $rc: $(cat "$TMP/cli.log")"
    grep -q "Programming succesful" "$TMP/cli.log" || fail "$name: no success message"
    grep -q "not erased" "$TMP/board.log" && fail "$name: $(cat "$TMP/board.log")"

    local programmed length
    if [[ $kind == "(" ]]; then
        # The entry and the package's two bytes after it (zero here); the
        # prepare request erased the whole image area.
        cp "$TMP/image.bin" "$TMP/programmed.bin"
        printf '\0\0' >>"$TMP/programmed.bin"
        length=$(stat -c %s "$TMP/flash.bin")
    else
        cp "$TMP/image.bin" "$TMP/programmed.bin"
        # Up to the end of the last 32 KB sector erased.
        length=$(((size + 32767) / 32768 * 32768))
    fi
    expected_flash "$TMP/programmed.bin" "$length" >"$TMP/expected.bin"
    cmp -n "$length" "$TMP/expected.bin" "$TMP/flash.bin" >/dev/null ||
        fail "$name: the board's flash does not hold the image"
    echo "ok: $name"
}

for kind in "(" ")"; do
    for size in 1002 2050 40000; do
        run_kind "$kind" "$size"
    done
done

# A board that does not answer the second request: programming error.
head -c 3000 /dev/urandom >"$TMP/image.bin"
"$SIM" pack -o "$TMP/fw.pr2" "(:BOARD:1.00:$TMP/image.bin"
serve board resident --fault no-reply=2
"$CLI" program "$TMP/fw.pr2" --port "$TMP/board.port" >"$TMP/cli.log" 2>&1
rc=$?
unserve board
[[ $rc -eq 4 ]] || fail "unanswered prepare: exit code $rc, want 4"
grep -q "Programming error" "$TMP/cli.log" || fail "unanswered prepare: no error message"
echo "ok: unanswered prepare"

# Ctrl+C during the blocks: the run stops after the current one with 5.
head -c 40000 /dev/urandom >"$TMP/image.bin"
"$SIM" pack -o "$TMP/fw.pr2" "):BOARD:1.00:$TMP/image.bin"
serve board resident --paced
"$CLI" program "$TMP/fw.pr2" --port "$TMP/board.port" >"$TMP/cli.log" 2>&1 &
cli_pid=$!
track "$cli_pid"
sleep 1
kill -INT "$cli_pid"
reap "$cli_pid"
rc=$?
unserve board
[[ $rc -eq 5 ]] || fail "stop: exit code $rc, want 5: $(cat "$TMP/cli.log")"
echo "ok: stop"
