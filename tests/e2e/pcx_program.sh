#!/usr/bin/env bash
# korvel-cli programs kind "G" packages into the simulated controller unit over
# a pty; the unit's flash from 32768 on must equal each image.
set -u
. "$(dirname "$0")/e2e_lib.bash"
e2e_setup "$@"

blank_kb() { head -c 1024 /dev/zero | tr '\0' '\377'; }

head -c 1500 /dev/urandom >"$TMP/small.bin"
{ head -c 10240 /dev/urandom; blank_kb; blank_kb; head -c 27712 /dev/urandom; } >"$TMP/sparse.bin"
head -c 300000 /dev/urandom >"$TMP/large.bin"
[ "$(stat -c %s "$TMP/sparse.bin")" -eq 40000 ] || fail "sparse image size"

for name in small sparse large; do
    image="$TMP/$name.bin"
    flash="$TMP/$name.flash"
    size=$(stat -c %s "$image")
    "$SIM" pack -o "$TMP/$name.pr2" "G:PCX:2.11:$image" || fail "pack $name"
    serve "$name" pcx --flash-out "$flash"
    out=$("$CLI" program "$TMP/$name.pr2" --port "$TMP/$name.port"); rc=$?
    unserve "$name"
    [ -s "$flash" ] || fail "no flash dump"
    [ $rc -eq 0 ] || fail "$name: exit $rc: $out"
    echo "$out" | grep -q "^Programming succesful$" || fail "$name: message: $out"
    cmp -s <(tail -c +32769 "$flash" | head -c "$size") "$image" || fail "$name: flash differs"
    # The rest of the last block was filled with the erased value.
    tail=$(( (1024 - size % 1024) % 1024 ))
    cmp -s <(tail -c +$((32769 + size)) "$flash" | head -c $tail) \
        <(head -c $tail /dev/zero | tr '\0' '\377') || fail "$name: block tail not blank"
done
echo "ok"
