#!/usr/bin/env bash
# Makes the lab's Wine prefix on the host, where it takes seconds instead of minutes under
# emulation; the VM sees it through a writable overlay. Kept while Wine and this script are
# unchanged.  tests/lab/wine-prefix.sh DIR
set -euo pipefail
prefix=$(mkdir -p "$1" && cd "$1" && pwd)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
stamp="$("$wine" --version) $(sha256sum "$0" | cut -c1-16)"
[ "$(cat "$prefix/.lab-stamp" 2>/dev/null)" = "$stamp" ] && exit 0

rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Output detached: a pipe held by the server would never close.
wineserver -p >/dev/null 2>&1 </dev/null
"$wine" wineboot -i >/dev/null 2>&1 </dev/null
reg() { "$wine" reg add "$@" /f >/dev/null 2>&1 </dev/null; }
# Wine's HID bus: its hidraw backend instead of SDL, and no mouse from /dev/input.
reg 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0
reg 'HKLM\System\CurrentControlSet\Services\winebus' /v DisableInput /t REG_DWORD /d 1
# "ＭＳ ゴシック" would otherwise map to a font without Latin glyphs.
for face in 'MS Gothic' 'ＭＳ ゴシック'; do reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAGothic; done
wineserver -k
wineserver -w
echo "$stamp" >"$prefix/.lab-stamp"
