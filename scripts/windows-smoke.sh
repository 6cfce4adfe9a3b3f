#!/usr/bin/env bash
# Runs the Windows build under Wine, in a private prefix on a private Xvfb display:
#   - the unit tests built for Windows,
#   - tolvane-cli.exe --list, which must bind HID.dll and SetupApi.dll and list Wine's own
#     HID devices (a mouse and a keyboard, vendor 845e),
#   - tolvane.exe, which must show its window captioned "TOLVANE" and close on WM_CLOSE.
# With SCREENSHOT=FILE it also saves a picture of the window.
set -euo pipefail
build=${1:-build/windows}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/tolvane-wine-XXXXXX)
display=${TOLVANE_SMOKE_DISPLAY:-:$((50 + RANDOM % 40))}
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
      kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|msvcrt.dll|advapi32.dll) ;;
      *) fail "$(basename "$exe") imports $dll: only system DLLs may be linked, HID.dll and SetupApi.dll are bound at run time" ;;
    esac
  done
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

echo "== unit tests under Wine"
"$wine" "$build/tests/windows/windows_tests.exe" </dev/null 2>&1 | tr -d '\r' | tail -3
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the unit tests failed under Wine"

echo "== tolvane-cli.exe --list"
list=$("$wine" "$build/src/ui/console/tolvane-cli.exe" --list </dev/null 2>&1 | tr -d '\r')
echo "$list"
[ "$(grep -c '^845e:' <<<"$list")" -ge 2 ] || fail "Wine's HID devices were not listed"

echo "== tolvane.exe"
"$wine" "$build/src/ui/win32/tolvane.exe" </dev/null >/dev/null 2>&1 &
app=$!
window=
for _ in $(seq 300); do
  window=$(xdotool search --name '^TOLVANE$' 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "tolvane.exe showed no window captioned TOLVANE"
echo "window captioned TOLVANE is up"
if [ -n "${SCREENSHOT:-}" ]; then
  sleep 1
  import -window "$window" "$SCREENSHOT"
  echo "wrote $SCREENSHOT"
fi
"$wine" taskkill /im tolvane.exe >/dev/null 2>&1 </dev/null
for _ in $(seq 300); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "tolvane.exe did not close on WM_CLOSE"
echo "tolvane.exe closed"
