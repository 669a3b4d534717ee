#!/usr/bin/env bash
# korvel-cli programs kind "G" packages into the simulated controller unit over
# a pty; the unit's flash from 32768 on must equal each image.
set -u
cli="$1"
sim="$2"
tmp=$(mktemp -d)
simpid=""
cleanup() {
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

start_sim() {
    rm -f "$tmp/tty" "$tmp/flash.bin"
    "$sim" pcx --link "$tmp/tty" --flash-out "$tmp/flash.bin" "$@" >"$tmp/sim.log" 2>&1 &
    simpid=$!
    for _ in $(seq 50); do [ -e "$tmp/tty" ] && return 0; sleep 0.1; done
    fail "korvel-sim pcx did not start: $(cat "$tmp/sim.log")"
}
stop_sim() {
    kill "$simpid" && wait "$simpid"
    simpid=""
    [ -s "$tmp/flash.bin" ] || fail "no flash dump"
}
blank_kb() { head -c 1024 /dev/zero | tr '\0' '\377'; }

head -c 1500 /dev/urandom >"$tmp/small.bin"
{ head -c 10240 /dev/urandom; blank_kb; blank_kb; head -c 27712 /dev/urandom; } >"$tmp/sparse.bin"
head -c 300000 /dev/urandom >"$tmp/large.bin"
[ "$(stat -c %s "$tmp/sparse.bin")" -eq 40000 ] || fail "sparse image size"

for name in small sparse large; do
    image="$tmp/$name.bin"
    size=$(stat -c %s "$image")
    "$sim" pack -o "$tmp/$name.pr2" "G:PCX:2.11:$image" || fail "pack $name"
    start_sim
    out=$("$cli" program "$tmp/$name.pr2" --port "$tmp/tty"); rc=$?
    stop_sim
    [ $rc -eq 0 ] || fail "$name: exit $rc: $out"
    echo "$out" | grep -q "^Programming succesful$" || fail "$name: message: $out"
    cmp -s <(tail -c +32769 "$tmp/flash.bin" | head -c "$size") "$image" || fail "$name: flash differs"
    # The rest of the last block was filled with the erased value.
    tail=$(( (1024 - size % 1024) % 1024 ))
    cmp -s <(tail -c +$((32769 + size)) "$tmp/flash.bin" | head -c $tail) \
        <(head -c $tail /dev/zero | tr '\0' '\377') || fail "$name: block tail not blank"
done
echo "ok"
