#!/usr/bin/env bash
# korvel-cli against the resident-loader simulator over a pty: both package
# kinds with several image sizes, whose flash must then hold the image; a
# board that stops answering; and Ctrl+C in the middle of a run.
set -uo pipefail
cli=$1
sim=$2

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts the simulator with the given options and waits for its pty link.
start_sim() {
    rm -f "$work/tty"
    "$sim" resident --link "$work/tty" "$@" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [[ -e $work/tty ]] && return 0
        sleep 0.05
    done
    fail "the simulator did not come up: $(cat "$work/sim.log")"
}

stop_sim() {
    kill -TERM "$sim_pid"
    wait "$sim_pid"
    sim_pid=
}

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
    head -c "$size" /dev/urandom >"$work/image.bin"
    "$sim" pack -o "$work/fw.pr2" "$kind:BOARD:1.00:$work/image.bin" || fail "pack $name"
    start_sim --flash-out "$work/flash.bin"
    "$cli" program "$work/fw.pr2" --port "$work/tty" >"$work/cli.log" 2>&1
    local rc=$?
    stop_sim
    [[ $rc -eq 0 ]] || fail "$name: exit code $rc: $(cat "$work/cli.log")"
    grep -q "Programming succesful" "$work/cli.log" || fail "$name: no success message"
    grep -q "not erased" "$work/sim.log" && fail "$name: $(cat "$work/sim.log")"

    local programmed length
    if [[ $kind == "(" ]]; then
        # The entry and the package's two bytes after it (zero here); the
        # prepare request erased the whole image area.
        cp "$work/image.bin" "$work/programmed.bin"
        printf '\0\0' >>"$work/programmed.bin"
        length=$(stat -c %s "$work/flash.bin")
    else
        cp "$work/image.bin" "$work/programmed.bin"
        # Up to the end of the last 32 KB sector erased.
        length=$(((size + 32767) / 32768 * 32768))
    fi
    expected_flash "$work/programmed.bin" "$length" >"$work/expected.bin"
    cmp -n "$length" "$work/expected.bin" "$work/flash.bin" >/dev/null ||
        fail "$name: the board's flash does not hold the image"
    echo "ok: $name"
}

for kind in "(" ")"; do
    for size in 1002 2050 40000; do
        run_kind "$kind" "$size"
    done
done

# A board that does not answer the second request: programming error.
head -c 3000 /dev/urandom >"$work/image.bin"
"$sim" pack -o "$work/fw.pr2" "(:BOARD:1.00:$work/image.bin"
start_sim --fault no-reply=2
"$cli" program "$work/fw.pr2" --port "$work/tty" >"$work/cli.log" 2>&1
rc=$?
stop_sim
[[ $rc -eq 4 ]] || fail "unanswered prepare: exit code $rc, want 4"
grep -q "Programming error" "$work/cli.log" || fail "unanswered prepare: no error message"
echo "ok: unanswered prepare"

# Ctrl+C during the blocks: the run stops after the current one with 5.
head -c 40000 /dev/urandom >"$work/image.bin"
"$sim" pack -o "$work/fw.pr2" "):BOARD:1.00:$work/image.bin"
start_sim --paced
"$cli" program "$work/fw.pr2" --port "$work/tty" >"$work/cli.log" 2>&1 &
cli_pid=$!
sleep 1
kill -INT "$cli_pid"
wait "$cli_pid"
rc=$?
stop_sim
[[ $rc -eq 5 ]] || fail "stop: exit code $rc, want 5: $(cat "$work/cli.log")"
echo "ok: stop"
