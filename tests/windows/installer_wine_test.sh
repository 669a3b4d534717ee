#!/usr/bin/env bash
# The Windows installer as a technician runs it, under Wine in a prefix of its
# own: a silent install (/S) per machine in Program Files with its Start-menu
# entries, the .pr2 file type and the Apps entry; every program answers
# --version; the installed korvel-cli programs the simulated LPC2138 through
# COM7 (a native korvel-sim on a pty), and the flash equals the image; the
# window keeps its settings beside it where its folder can be written, else in
# %APPDATA%\Korvel; a silent uninstall leaves nothing of it behind.
# Usage: installer_wine_test.sh SETUP.EXE KORVEL_SIM PREFIX_DIR
# (a prefix without Korvel in it, made when it is not there)
set -uo pipefail
setup=$(realpath "$1")
sim="$2"
prefix=$(realpath -m "$3")
here="$(cd "$(dirname "$0")" && pwd)"
examples="$(cd "$here/../../examples" && pwd)"
run() { WINEPREFIX="$prefix" bash "$here/wine-run.sh" "$prefix" "$@"; }
# Waits until every program of the prefix has ended (an uninstaller goes on
# in a copy of itself after the one started returns).
settle() { WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w; }
reg_value() { run reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p'; }

. "$here/../e2e/lpc_lib.bash"
# The boards, the flash check and the clean-up of the native runs (no native
# korvel-cli here: the simulator stands in for it).
lpc_setup "$sim" "$sim"

port=7
dev="$prefix/dosdevices"
trap 'rm -f "$dev/com$port"; WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null; e2e_cleanup' EXIT
version=$(sed -n 's/^project(korvel VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")

# --- Install -----------------------------------------------------------------
dir="$prefix/drive_c/Program Files/Korvel"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
[ ! -e "$dir" ] || fail "$dir is there before the install: use a prefix without Korvel"
run "$setup" /S >/dev/null 2>&1 || fail "the installer ended with $?"
settle
for file in korvel.exe korvel-cli.exe uninstall.exe "Korvel manual.txt" Qt6Core.dll Qt6Gui.dll \
    Qt6Widgets.dll Qt6Network.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll \
    "$menu/Korvel.lnk" "$menu/Korvel manual.lnk"; do
  case "$file" in /*) path=$file ;; *) path="$dir/$file" ;; esac
  [ -f "$path" ] || fail "not installed: $path"
done
[ "$(reg_value 'HKLM\Software\Classes\.pr2')" = Korvel.Package ] || fail ".pr2 is not Korvel's"
open=$(reg_value 'HKLM\Software\Classes\Korvel.Package\shell\open\command')
[ "$open" = '"C:\Program Files\Korvel\korvel.exe" "%1"' ] || fail ".pr2 opens with: $open"
run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel' /v DisplayVersion 2>/dev/null |
  grep -q "$version" || fail "no Apps entry of version $version"
echo "ok: installed in Program Files"

# --- Every program answers --version ----------------------------------------
for program in korvel korvel-cli; do
  out=$(run "C:\\Program Files\\Korvel\\$program.exe" --version 2>/dev/null | tr -d '\r')
  [ "$out" = "$program $version" ] || fail "$program --version: $out"
done
echo "ok: --version"

# --- The installed korvel-cli programs the board ------------------------------
mkdir -p "$dev"
serve_lpc installed LPC2138
ln -sfn "$TMP/installed.port" "$dev/com$port"
run "C:\\Program Files\\Korvel\\korvel-cli.exe" program "Z:$examples/blinky-lpc2138.pr2" \
  --port "COM$port" >"$TMP/out" 2>&1
rc=$?
unserve installed
[ $rc -eq 0 ] || fail "installed korvel-cli.exe ended with $rc: $(tr -d '\r' <"$TMP/out")"
check_flash installed "$examples/blinky-lpc2138.hex" 512000
echo "ok: the installed korvel-cli programmed COM$port"

# --- Where the window keeps its settings --------------------------------------
# Unattended with a package that is not there: it ends with 66 at once, after
# making its settings file with the defaults.
window() { run "C:\\Program Files\\Korvel\\korvel.exe" -Fnone.pr2 -RRUN -Uexit -C9 >/dev/null 2>&1; }
appdata=$(find "$prefix/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Roaming' | head -1)
window
rc=$?
[ $rc -eq 66 ] || fail "korvel.exe -Fnone.pr2 -Uexit ended with $rc"
[ -f "$dir/korvel.ini" ] || fail "a writable program folder got no korvel.ini"
[ ! -e "$appdata/Korvel" ] || fail "settings went to %APPDATA% though the folder takes files"
if [ "$(id -u)" -ne 0 ]; then
  # As Program Files is on Windows: not writable by the user.
  rm "$dir/korvel.ini"
  chmod a-w "$dir"
  window
  chmod u+w "$dir"
  [ -f "$appdata/Korvel/korvel.ini" ] || fail "an installed copy kept no settings in %APPDATA%\\Korvel"
  [ ! -e "$dir/korvel.ini" ] || fail "settings written into the read-only program folder"
  rm -rf "${appdata:?}/Korvel"  # the user's, which an uninstaller leaves alone
  echo "ok: settings beside a writable copy, else in %APPDATA%\\Korvel"
else
  echo "ok: settings beside a writable copy (as root every folder takes files: the" \
    "%APPDATA%\\Korvel case is checked by korvel_tests and by a non-root run)"
fi

# --- Uninstall ---------------------------------------------------------------
run "C:\\Program Files\\Korvel\\uninstall.exe" /S >/dev/null 2>&1
settle
[ ! -e "$dir" ] || fail "left behind: $(find "$dir" | head -5)"
for link in "$menu/Korvel.lnk" "$menu/Korvel manual.lnk"; do
  [ ! -e "$link" ] || fail "left behind: $link"
done
for key in 'HKLM\Software\Classes\.pr2' 'HKLM\Software\Classes\Korvel.Package' \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel'; do
  ! run reg query "$key" >/dev/null 2>&1 || fail "left behind: $key"
done
echo "ok: uninstalled, nothing left"
