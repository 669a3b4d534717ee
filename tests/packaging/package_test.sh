#!/usr/bin/env bash
# The Debian package as a technician gets it: built by scripts/package,
# unpacked into a temporary root, its control fields, layout, desktop entry,
# file type, icons and manual pages checked, and the unpacked programs run,
# also as a user who cannot write beside them (the installed case).
# Usage: tests/packaging/package_test.sh   (about two minutes on a clean tree)
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    chmod -R u+w "$tmp" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in dpkg-deb desktop-file-validate man update-mime-database readelf; do
    command -v "$tool" >/dev/null || fail "needs $tool (scripts/setup installs it)"
done

version=$(sed -n 's/^project(korvel VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

"$repo/scripts/package" "$tmp/out" >/dev/null || fail "scripts/package"
debs=("$tmp"/out/korvel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "scripts/package made ${debs[*]}"
deb=${debs[0]}
[ "$(basename "$deb")" = "korvel_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package file name $(basename "$deb")"

# --- Control fields -----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = korvel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
field Maintainer | grep -Eq '^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$' || fail "Maintainer: $(field Maintainer)"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description: $(field Description)"
depends=",$(field Depends | tr -d ' '),"

root=$tmp/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
bin=$root/usr/bin

# Every library a program links against comes from a package it depends on.
for program in korvel korvel-cli korvel-sim; do
    for lib in $(readelf -d "$bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # Several packages may hold a library of that name (libc6 and
        # libc6-i386 both have libm.so.6): one of them must be depended on.
        owners=$(dpkg -S "*/$lib" 2>/dev/null | cut -d: -f1 | sort -u)
        [ -n "$owners" ] || fail "$program needs $lib, which no installed package holds"
        covered=
        for owner in $owners; do
            case "$depends" in
                *",$owner,"* | *",$owner("*) covered=1 ;;
            esac
        done
        [ -n "$covered" ] ||
            fail "$program needs $lib from $(echo $owners), missing in Depends: $(field Depends)"
    done
done
# The window draws its icons through Qt's SVG icon engine, a plug-in.
case "$depends" in *",libqt6svg6,"* | *",libqt6svg6("*) ;; *) fail "no libqt6svg6 in Depends" ;; esac
echo "ok: control fields and dependencies"

# --- Layout -------------------------------------------------------------------
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
for program in korvel korvel-cli korvel-sim; do
    [ -x "$bin/$program" ] || fail "no executable usr/bin/$program"
done
share=$root/usr/share
for file in applications/korvel.desktop mime/packages/korvel.xml doc/korvel/README.md \
    doc/korvel/manual.html icons/hicolor/scalable/apps/korvel.svg; do
    [ -s "$share/$file" ] || fail "no usr/share/$file"
done
rules=$root/usr/lib/udev/rules.d/60-korvel-ftdi-latency.rules
grep -q 'ATTR{latency_timer}="1"' "$rules" 2>/dev/null || fail "no udev rule for the FTDI latency timer"
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rules" >/dev/null || fail "udevadm verify $rules"
fi
# Each bitmap icon is drawn at the size its folder names.
png_size() {
    local hex
    hex=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
    echo "$((16#${hex:0:8}))x$((16#${hex:8:8}))"
}
sizes=0
for png in "$share"/icons/hicolor/*/apps/korvel.png; do
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
    folder=$(basename "$(dirname "$(dirname "$png")")")
    [ "$(png_size "$png")" = "$folder" ] || fail "$png is $(png_size "$png")"
    sizes=$((sizes + 1))
done
for size in 16 32 48 64 128 256; do
    [ -f "$share/icons/hicolor/${size}x${size}/apps/korvel.png" ] || fail "no ${size}x${size} icon"
done
echo "ok: layout, $sizes bitmap icons and the scalable one"

# --- Desktop entry and the .pr2 file type ---------------------------------------
desktop=$share/applications/korvel.desktop
warnings=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $warnings"
[ -z "$warnings" ] || fail "desktop-file-validate: $warnings"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Name)" = Korvel ] || fail "Name=$(entry Name)"
[ "$(entry Icon)" = korvel ] || fail "Icon=$(entry Icon)"
[ "$(entry Exec)" = "korvel %f" ] || fail "Exec=$(entry Exec): a double-click must pass the file"
mime_type=$(entry MimeType)
mime_type=${mime_type%;}
mkdir -p "$tmp/mime"
cp -r "$share/mime/packages" "$tmp/mime/"
errors=$(XDG_DATA_DIRS=$tmp update-mime-database "$tmp/mime" 2>&1) || fail "update-mime-database: $errors"
[ -z "$errors" ] || fail "update-mime-database: $errors"
grep -q "^[0-9]*:$mime_type:\*\.pr2$" "$tmp/mime/globs2" ||
    fail "*.pr2 is not $mime_type: $(cat "$tmp/mime/globs2")"
echo "ok: desktop entry valid, *.pr2 is $mime_type and opens in Korvel"

# --- Manual pages -------------------------------------------------------------
for program in korvel korvel-cli korvel-sim; do
    page=$root/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || fail "no manual page for $program"
    text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$tmp/man.err") || fail "man -l $page"
    [ ! -s "$tmp/man.err" ] || fail "man -l $program: $(cat "$tmp/man.err")"
    echo "$text" | grep -q "^NAME$" || fail "$program manual: no NAME"
    echo "$text" | grep -Eq "^ *$program +- " || fail "$program manual: no name line"
    echo "$text" | grep -q "^Korvel $version " || fail "$program manual: not version $version"
done
echo "ok: manual pages render"

# --- The unpacked programs ----------------------------------------------------------
export QT_QPA_PLATFORM=offscreen
for program in korvel korvel-cli korvel-sim; do
    out=$("$bin/$program" --version 2>&1) || fail "$program --version ended with $?"
    [ "$out" = "$program $version" ] || fail "$program --version: $out"
done
echo "ok: --version"

# --- Settings of the installed programs -------------------------------------------
# A user who cannot write beside the programs: as root, the nobody account;
# otherwise this user with the programs' folder made read-only.
user=$tmp/user
mkdir -p "$user/home"
cp "$repo/examples/blinky-lpc2138.pr2" "$user/"
printf 'data' >"$user/data.bin"
"$bin/korvel-sim" pack -o "$user/unit.pr2" "5:DEVICE5:1.0:$user/data.bin" || fail "pack"
if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || fail "needs setpriv (util-linux) to drop root"
    chmod 755 "$tmp"
    chown -R 65534:65534 "$user"
    as_user_prefix=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
    chmod 555 "$bin"
    as_user_prefix=()
fi
# setpriv runs the program in its own place: started in the background as
# one plain command, $! is the program's own process id.
as_user() { "${as_user_prefix[@]}" "$@"; }
export HOME=$user/home XDG_CONFIG_HOME=$user/cfg
ini=$XDG_CONFIG_HOME/korvel/korvel.ini
uses() { grep -Fq "under [PORTS] in $1, for example" <<<"$2"; }

out=$(as_user "$bin/korvel-cli" ports 2>&1) || fail "korvel-cli ports: $out"
uses "$ini" "$out" || fail "korvel-cli does not use $ini: $out"
[ ! -e "$ini" ] || fail "korvel-cli created $ini"
out=$(XDG_CONFIG_HOME="" as_user "$bin/korvel-cli" ports 2>&1)
uses "$HOME/.config/korvel/korvel.ini" "$out" || fail "without XDG_CONFIG_HOME: $out"

# The window makes its file there (with the defaults; options are not saved).
as_user "$bin/korvel" "-F$user/unit.pr2" -RRUN -Uexit -C9 >"$tmp/window.out" 2>&1
rc=$?
[ $rc -eq 2 ] || fail "korvel on a kind without procedure ended with $rc: $(cat "$tmp/window.out")"
[ -f "$ini" ] || fail "the window made no $ini"
grep -q "^SerialPort=1" "$ini" || fail "settings file: $(cat "$ini")"
[ ! -e "$bin/korvel.ini" ] || fail "a settings file beside the installed programs"

# A port chosen in that file is the one both front ends use after a restart:
# COM7 is a simulated LPC2138 for the window, a missing device for the CLI.
"${as_user_prefix[@]}" "$bin/korvel-sim" lpc --chip LPC2138 --link "$user/board" \
    >"$tmp/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$user/board" ] && break
    sleep 0.05
done
[ -e "$user/board" ] || fail "korvel-sim did not come up: $(cat "$tmp/sim.log")"
printf '[SETTINGS]\r\nLastFiles=\r\nSerialPort=7\r\nAutoRun=0\r\n[PORTS]\r\nCOM7=%s\r\n' \
    "$user/board" | as_user tee "$ini" >/dev/null
as_user "$bin/korvel" "-F$user/blinky-lpc2138.pr2" -RRUN -Uexit >"$tmp/window.out" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "the window did not program COM7 (exit $rc): $(cat "$tmp/window.out" "$tmp/sim.log")"
kill -TERM "$sim_pid"
wait "$sim_pid"
sim_pid=""
sed 's|^COM7=.*|COM7='"$user"'/no-such-port\r|' "$ini" | as_user tee "$ini.new" >/dev/null
as_user mv "$ini.new" "$ini"
out=$(as_user "$bin/korvel-cli" program "$user/blinky-lpc2138.pr2" 2>&1)
rc=$?
[ $rc -eq 1 ] || fail "korvel-cli on a missing COM7 ended with $rc: $out"
grep -q "^Unable to open port COM7: $user/no-such-port: No such file or directory" <<<"$out" ||
    fail "korvel-cli did not use COM7, or did not say why: $out"
grep -Fq "$user/no-such-port" <<<"$out" || fail "korvel-cli did not map COM7: $out"
echo "ok: installed, the settings live in $XDG_CONFIG_HOME/korvel and serve both front ends"

# A device the user may not open: korvel-cli names its group and the remedy.
device=$user/ttyLOCKED
: >"$device"
if [ "$(id -u)" -eq 0 ]; then
    chown root:dialout "$device" && chmod 660 "$device" || fail "no dialout group"
else
    chmod 000 "$device"
fi
group=$(stat -c %G "$device")
out=$(as_user "$bin/korvel-cli" program "$user/blinky-lpc2138.pr2" --port "$device" 2>&1)
rc=$?
[ $rc -eq 1 ] || fail "korvel-cli on a locked device ended with $rc: $out"
if [ "$(id -u)" -eq 0 ]; then
    grep -Fq "sudo usermod -aG $group \$USER, then log in again" <<<"$out" ||
        fail "no advice to join $group: $out"
    echo "ok: a locked device gets the advice to join $group"
else
    # Mode 000: joining its group would not help.
    grep -Fq "an administrator must grant access" <<<"$out" || fail "no advice: $out"
    echo "ok: a locked device gets the advice to ask an administrator"
fi

# A portable copy keeps its settings beside the programs: an existing file
# wins even where the user cannot write, a writable folder takes a new one.
[ "$(id -u)" -eq 0 ] || chmod 755 "$bin"
out=$("$bin/korvel-cli" ports 2>&1)
uses "$bin/korvel.ini" "$out" || fail "writable folder: $out"
[ "$(id -u)" -eq 0 ] || chmod 555 "$bin"
if [ "$(id -u)" -eq 0 ]; then
    : >"$bin/korvel.ini"
else
    chmod 755 "$bin" && : >"$bin/korvel.ini" && chmod 555 "$bin"
fi
out=$(as_user "$bin/korvel-cli" ports 2>&1)
uses "$bin/korvel.ini" "$out" || fail "existing file beside the programs: $out"
echo "ok: portable layout"
echo "package test: ok ($(basename "$deb"))"
