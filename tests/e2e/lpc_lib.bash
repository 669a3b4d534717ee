# Helpers of the lpc_* end-to-end scripts (sourced, not a test of its own):
# LPC boards served by korvel-sim, HEX images made with awk, and the flash a
# board must end up with, made with objcopy, independently of Korvel's code.

. "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.bash"

lpc_setup() {
    e2e_setup "$@"
    command -v objcopy >/dev/null || { echo "$0: needs objcopy (binutils)" >&2; exit 1; }
}

# serve_lpc NAME CHIP [korvel-sim options]: serves a board on $TMP/NAME.port;
# its flash goes to $TMP/NAME.bin, its output to $TMP/NAME.log. unserve NAME
# ends it, and it writes its flash and a summary line.
serve_lpc() {
    local name=$1 chip=$2
    shift 2
    serve "$name" lpc --chip "$chip" --flash-out "$TMP/$name.bin" "$@"
}

# make_hex OUT "ADDRESS LENGTH SEED" ...: Intel HEX (CR LF) of pseudo-random
# bytes at each decimal address, 16 bytes a record, with type 04 records.
make_hex() {
    local out=$1
    shift
    printf '%s\n' "$@" | awk '
        function record(type, address, n,    line, sum, i) {
            line = sprintf(":%02X%04X%02X", n, address, type)
            sum = n + int(address / 256) + address % 256 + type
            for (i = 0; i < n; i++) {
                line = line sprintf("%02X", b[i])
                sum += b[i]
            }
            printf "%s%02X\r\n", line, (256 - sum % 256) % 256
        }
        BEGIN { upper = 0 }
        {
            address = $1; length_ = $2; seed = $3 + 1
            for (done = 0; done < length_; done += n) {
                a = address + done
                if (int(a / 65536) != upper) {
                    upper = int(a / 65536)
                    b[0] = int(upper / 256); b[1] = upper % 256
                    record(4, 0, 2)
                }
                n = length_ - done
                if (n > 16) n = 16
                if (n > 65536 - a % 65536) n = 65536 - a % 65536
                for (i = 0; i < n; i++) {
                    seed = (seed * 16807) % 2147483647
                    b[i] = int(seed / 8) % 256
                }
                record(0, a % 65536, n)
            }
        }
        END { printf ":00000001FF\r\n" }' >"$out"
}

# expected_flash HEX SIZE OUT: the flash of SIZE bytes after programming the
# image (which has data at address 0): erased bytes 0xFF, and the word at
# 0x14 making the eight exception vectors add up to 0.
expected_flash() {
    local hex=$1 size=$2 out=$3
    objcopy -I ihex -O binary --gap-fill 0xff --pad-to "$size" "$hex" "$out" ||
        fail "objcopy could not read $hex"
    local bytes sum=0 i w c
    read -r -a bytes <<<"$(od -An -tu1 -N32 -v "$out" | tr '\n' ' ')"
    for i in 0 1 2 3 4 6 7; do
        w=$((bytes[i * 4] | bytes[i * 4 + 1] << 8 | bytes[i * 4 + 2] << 16 | bytes[i * 4 + 3] << 24))
        sum=$(((sum + w) & 0xFFFFFFFF))
    done
    c=$(((-sum) & 0xFFFFFFFF))
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((c & 255)) $((c >> 8 & 255)) \
        $((c >> 16 & 255)) $((c >> 24 & 255)))" |
        dd of="$out" bs=1 seek=20 conv=notrunc status=none
}

# check_flash NAME HEX SIZE: the board's flash dump equals the image.
check_flash() {
    local name=$1 hex=$2 size=$3
    [ -f "$TMP/$name.bin" ] || fail "$name: no flash dump"
    [ "$(stat -c %s "$TMP/$name.bin")" -eq "$size" ] || fail "$name: dump is not $size bytes"
    expected_flash "$hex" "$size" "$TMP/$name.expected"
    cmp "$TMP/$name.expected" "$TMP/$name.bin" || fail "$name: flash differs from the image"
}
