#!/usr/bin/env bash
# Runs the Windows build under Wine, in a private prefix on a private Xvfb display:
#   - the unit tests built for Windows,
#   - tolvane-cli.exe --list, which must bind HID.dll and SetupApi.dll and list Wine's own
#     HID devices (a mouse and a keyboard, vendor 845e),
#   - tolvane.exe, which must show its window captioned "TOLVANE" and close on WM_CLOSE,
#   - the version resource and manifest of both programs, read back from the .exe files,
#   - tolvane.exe again at 192 dpi, where its window must be twice as wide,
#   - tolvane.exe's command line, whose answers come in a box: --version, an unknown option and
#     a log file it cannot open,
#   - the installer of `make windows-package`, installed and uninstalled silently: the installed
#     tolvane-cli.exe, the Start-menu entry, the uninstall key, and what the uninstaller leaves.
# With SCREENSHOT=FILE it also saves a picture of the window, with SCREENSHOT_192DPI=FILE one at
# 192 dpi. TOLVANE_XVFB_DISPLAY picks the Xvfb display (default: a random one from :50 to :89).
set -euo pipefail
build=${1:-build/windows}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

# winemenubuilder would turn the installer's Start-menu entry into a .desktop file in $HOME.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/tolvane-wine-XXXXXX)
display=${TOLVANE_XVFB_DISPLAY:-:$((50 + RANDOM % 40))}
xvfb=
cleanup() {
  WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
fail() { echo "windows-smoke: $*" >&2; exit 1; }

echo "== imports"
for exe in "$build/src/ui/win32/tolvane.exe" "$build/src/ui/console/tolvane-cli.exe"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
  echo "$(basename "$exe"): $dlls"
  for dll in $dlls; do
    case $dll in
      # comdlg32.dll: the log window's Save as... dialog.
      kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|msvcrt.dll|advapi32.dll) ;;
      *) fail "$(basename "$exe") imports $dll: only system DLLs may be linked, HID.dll and SetupApi.dll are bound at run time" ;;
    esac
  done
done

echo "== version resource and manifest"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
IFS=. read -r major minor patch tweak <<<"$version"
numbers="${major:-0}, ${minor:-0}, ${patch:-0}, ${tweak:-0}"
for exe in "$build/src/ui/win32/tolvane.exe" "$build/src/ui/console/tolvane-cli.exe"; do
  name=$(basename "$exe")
  resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc) || fail "$name: resources cannot be read"
  for expected in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
                  "VALUE \"ProductVersion\", \"$version\"" 'VALUE "ProductName", "TOLVANE"' \
                  "VALUE \"OriginalFilename\", \"$name\"" 'VALUE "FileDescription", "TOLVANE' \
                  'VALUE "LegalCopyright", "Copyright' \
                  'level=""asInvoker""' 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' \
                  'version=""1.0.0.0"" processorArchitecture=""*""' \
                  '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' \
                  '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
    grep -qF -- "$expected" <<<"$resources" || fail "$name: no $expected in its resources"
  done
  dpi_elements=$(grep -c dpiAware <<<"$resources" || true)
  if [ "$name" = tolvane.exe ]; then
    grep -qF '>PerMonitorV2, PerMonitor</dpiAwareness>' <<<"$resources" && grep -qF '>true/pm</dpiAware>' <<<"$resources" \
      || fail "$name: its manifest declares no per-monitor dpi awareness"
  elif [ "$dpi_elements" -ne 0 ]; then
    fail "$name: a console program declares dpi awareness"
  fi
  echo "$name: version $version ($numbers), manifest complete"
done

Xvfb "$display" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# One server and one boot for the whole run, their output detached so no pipe stays open.
wineserver -p >/dev/null 2>&1 </dev/null
"$wine" wineboot -i >/dev/null 2>&1 </dev/null
# "ＭＳ ゴシック" would otherwise map to a font without Latin glyphs.
for face in 'MS Gothic' 'ＭＳ ゴシック'; do
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAGothic /f >/dev/null 2>&1 </dev/null
done

echo "== tolvane-cli.exe --version"
said=$("$wine" "$build/src/ui/console/tolvane-cli.exe" --version </dev/null 2>&1 | tr -d '\r')
echo "$said"
[ "$said" = "tolvane-cli $version" ] || fail "tolvane-cli.exe --version does not say $version"

# Early: Wine takes its HID mouse and keyboard away once its desktop has been idle a while.
echo "== tolvane-cli.exe --list"
list=$("$wine" "$build/src/ui/console/tolvane-cli.exe" --list </dev/null 2>&1 | tr -d '\r')
echo "$list"
[ "$(grep -c '^845e:' <<<"$list")" -ge 2 ] || fail "Wine's HID devices were not listed"

echo "== unit tests under Wine"
"$wine" "$build/tests/windows/windows_tests.exe" </dev/null 2>&1 | tr -d '\r' | tail -3
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the unit tests failed under Wine"

# Starts tolvane.exe, waits for its window, checks its size is the client area at that dpi (plus
# the menu bar: without a window manager the X window holds no title bar or frame), saves a
# picture when asked, and closes it with WM_CLOSE.
run_window() {
  local dpi=$1 picture=$2 app window= width height
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null
  "$wine" "$build/src/ui/win32/tolvane.exe" </dev/null >/dev/null 2>&1 &
  app=$!
  for _ in $(seq 300); do
    window=$(xdotool search --name '^TOLVANE$' 2>/dev/null | head -1) || true
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "tolvane.exe showed no window captioned TOLVANE at $dpi dpi"
  # The X window can be found before Wine has given it the size the program set: its size is
  # taken once it is the one expected, or as it stands after 10 s.
  for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    width=$WIDTH height=$HEIGHT
    [ "$width" -eq $((242 * dpi / 96)) ] && [ "$height" -gt $((92 * dpi / 96)) ] && break
    sleep 0.1
  done
  echo "window captioned TOLVANE is up at $dpi dpi: ${width}x${height} with its menu bar"
  [ "$width" -eq $((242 * dpi / 96)) ] || fail "at $dpi dpi the window is $width wide, not $((242 * dpi / 96))"
  [ "$height" -gt $((92 * dpi / 96)) ] || fail "at $dpi dpi the window is $height high, not more than $((92 * dpi / 96))"
  if [ -n "$picture" ]; then
    sleep 1
    import -window "$window" "$picture"
    echo "wrote $picture"
  fi
  "$wine" taskkill /im tolvane.exe >/dev/null 2>&1 </dev/null
  for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null && fail "tolvane.exe did not close on WM_CLOSE"
  echo "tolvane.exe closed"
}

echo "== tolvane.exe"
run_window 96 "${SCREENSHOT:-}"

echo "== tolvane.exe at 192 dpi"
run_window 192 "${SCREENSHOT_192DPI:-}"

# run_box STATUS TEXT ARG...: tolvane.exe ARG... must show a box captioned TOLVANE holding TEXT
# and, once the box is closed with WM_CLOSE, end with STATUS.
run_box() {
  local expected=$1 text=$2 app said status=0
  shift 2
  "$wine" "$build/src/ui/win32/tolvane.exe" "$@" </dev/null >/dev/null 2>&1 &
  app=$!
  for _ in $(seq 300); do
    xdotool search --name '^TOLVANE$' >/dev/null 2>&1 && break
    sleep 0.1
  done
  said=$("$wine" "$build/tests/windows/window-text.exe" '#32770' </dev/null 2>&1 | tr -d '\r')
  "$wine" taskkill /im tolvane.exe >/dev/null 2>&1 </dev/null
  wait "$app" || status=$?
  echo "tolvane.exe $*: box says '$(grep -v -e '^==' -e '^OK$' -e '^$' <<<"$said" | head -1)', exit status $status"
  grep -qF -- "$text" <<<"$said" || fail "tolvane.exe $* showed no box saying $text"
  [ "$status" -eq "$expected" ] || fail "tolvane.exe $* ended with $status, not $expected"
}

echo "== tolvane.exe's command line"
run_box 0 "tolvane $version" --version
run_box 2 "unknown option --bogus" --bogus
run_box 1 "cannot open log file" --log 'C:\no-such-directory\tolvane.log'

# Last, as an administrator would run it unattended. The installer works in its own process,
# which wine runs to its end.
echo "== installer round trip"
setup=$build/package/tolvane-$version-win64-setup.exe
[ -f "$setup" ] || fail "no $setup: make windows-package builds it"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TOLVANE'
installed='C:\Program Files\TOLVANE'
folder="$WINEPREFIX/drive_c/Program Files/TOLVANE"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/TOLVANE.lnk"
status=0
"$wine" "$setup" /S </dev/null >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "$(basename "$setup") /S ended with $status"
[ -d "$folder" ] || fail "$(basename "$setup") /S installed nothing in $installed"
echo "$(basename "$setup") /S: $installed holds $(cd "$folder" && echo *)"

said=$("$wine" "$installed\\tolvane-cli.exe" --version </dev/null 2>&1 | tr -d '\r')
echo "installed tolvane-cli.exe --version: $said"
[ "$said" = "tolvane-cli $version" ] || fail "the installed tolvane-cli.exe --version does not say $version"

[ -f "$shortcut" ] || fail "no TOLVANE.lnk in all users' Start menu"
grep -qaF "$installed\\tolvane.exe" "$shortcut" || fail "the Start-menu entry TOLVANE.lnk does not start $installed\\tolvane.exe"
echo "all users' Start menu: TOLVANE.lnk starts $installed\\tolvane.exe"

entry=$("$wine" reg query "$key" /reg:64 </dev/null 2>&1 | tr -d '\r') || fail "no uninstall key $key in the 64-bit registry"
bytes=$(find "$folder" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
for value in "DisplayName REG_SZ TOLVANE" "DisplayVersion REG_SZ $version" \
             "UninstallString REG_SZ \"$installed\\uninstall.exe\"" \
             "QuietUninstallString REG_SZ \"$installed\\uninstall.exe\" /S" "InstallLocation REG_SZ $installed" \
             "DisplayIcon REG_SZ $installed\\tolvane.exe,0" "NoModify REG_DWORD 0x1" "NoRepair REG_DWORD 0x1"; do
  # From the environment: awk -v would read the backslashes as escapes.
  want=$value awk '{ $1 = $1 } $0 == ENVIRON["want"] { found = 1 } END { exit !found }' <<<"$entry" \
    || fail "the uninstall key holds no $value"
done
awk '$1 == "Publisher" && $2 == "REG_SZ" && NF > 2 { found = 1 } END { exit !found }' <<<"$entry" \
  || fail "the uninstall key names no Publisher"
size=$(awk '$1 == "EstimatedSize" && $2 == "REG_DWORD" { print $3 }' <<<"$entry")
size=$((${size:-0}))
# Apps & features reads it in KB: within a few percent of what the folder holds.
percent=$((size * 1024 * 100 / bytes))
[ "$percent" -ge 95 ] && [ "$percent" -le 105 ] \
  || fail "the uninstall key's EstimatedSize is $size KB, the folder holds $((bytes / 1024)) KB"
echo "uninstall key: $(awk 'NF >= 3 { printf "%s%s", sep, $1; sep = " " }' <<<"$entry"), EstimatedSize $size KB"

# uninstall.exe /S hands its work to a copy of itself and returns at once. A copy given _?=FOLDER
# works in its own process, and cmd /c waits for it and passes on its status; through cmd the
# line stays as written, and _?= takes the rest of it unquoted.
cp "$folder/uninstall.exe" "$WINEPREFIX/drive_c/windows/temp/tolvane-uninstall.exe"
status=0
"$wine" cmd /c "C:\\windows\\temp\\tolvane-uninstall.exe /S _?=$installed" </dev/null >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "uninstall.exe /S ended with $status"
[ ! -e "$folder" ] || fail "uninstall.exe /S left $installed, holding: $(cd "$folder" && echo *)"
[ ! -e "$shortcut" ] || fail "uninstall.exe /S left TOLVANE.lnk in all users' Start menu"
"$wine" reg query "$key" /reg:64 </dev/null >/dev/null 2>&1 && fail "uninstall.exe /S left the uninstall key $key"
echo "uninstall.exe /S: $installed, TOLVANE.lnk and the uninstall key are gone"
