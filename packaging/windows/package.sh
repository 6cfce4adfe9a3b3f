#!/usr/bin/env bash
# Builds the Windows downloads from a Windows build (default build/windows) into BUILD/package:
#   tolvane-VERSION-win64.zip        the two programs, README.txt and LICENSE.txt in one folder,
#   tolvane-VERSION-win64-setup.exe  the same files installed by tolvane.nsi (makensis).
# The version is the project's, from BUILD/CMakeCache.txt; the licence is that of
# packaging/debian/copyright. Each run starts from an empty BUILD/package.
set -euo pipefail
build=${1:-build/windows}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
fail() { echo "windows-package: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt; run make windows first"
# A Windows version resource holds four numbers.
IFS=. read -r major minor patch tweak <<<"$version"
numbers="${major:-0}.${minor:-0}.${patch:-0}.${tweak:-0}"

# The licence paragraph of the "Files: *" stanza, or the stand-alone stanza of the licence it
# names, as plain text: " ." lines are empty lines.
licence=$(awk -v RS= -F '\n' '
  function text(from,    i, line, out) {
    for (i = from; i <= NF && $i ~ /^[ \t]/; i++) {
      line = $i
      sub(/^[ \t]+/, "", line)
      out = out (line == "." ? "" : line) "\n"
    }
    return out
  }
  {
    for (i = 1; i <= NF; i++) {
      if ($1 == "Files: *" && $i ~ /^Copyright:/) { copyright = $i; sub(/^Copyright:[ \t]*/, "", copyright) }
      if ($1 == "Files: *" && $i ~ /^License:/) { name = $i; sub(/^License:[ \t]*/, "", name); body = text(i + 1) }
      if ($1 ~ /^License:/ && i == 1) { standalone[substr($1, 9)] = text(2) }
    }
  }
  END {
    sub(/^[ \t]+/, "", name)
    for (n in standalone) { key = n; sub(/^[ \t]+/, "", key); if (body == "" && key == name) body = standalone[n] }
    if (copyright == "" || body == "") exit 1
    printf "TOLVANE\nCopyright %s\n\n%s", copyright, body
  }' "$root/packaging/debian/copyright") || fail "no copyright and licence text for Files: * in packaging/debian/copyright"
copyright=$(sed -n 2p <<<"$licence")
publisher=$(sed -E 's/^Copyright ([0-9]+[-, ]*)+//' <<<"$copyright")

out=$build/package
name=tolvane-$version-win64
stage=$out/$name
rm -rf "$out"
mkdir -p "$stage"
cp "$build/src/ui/win32/tolvane.exe" "$build/src/ui/console/tolvane-cli.exe" "$stage/"
# Notepad before Windows 10 1809 shows LF-only text as one line.
sed 's/$/\r/' "$root/README.md" >"$stage/README.txt"
sed 's/$/\r/' <<<"$licence" >"$stage/LICENSE.txt"
# One date and one mode for every file, so that the same files make the same zip and installer:
# the last commit's date, or SOURCE_DATE_EPOCH.
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
stamp=${stamp:-315619200}
chmod 0644 "$stage"/*
touch -d "@$stamp" "$stage" "$stage"/*

(cd "$out" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -q -D "$name.zip" -@)

makensis -V2 -WX -NOCD \
  "-DVERSION=$version" "-DVERSION_NUMBERS=$numbers" "-DPUBLISHER=$publisher" "-DCOPYRIGHT=$copyright" \
  "-DSTAGE=$(cd "$stage" && pwd)" "-DICON=$root/src/ui/win32/tolvane.ico" \
  "-DOUTFILE=$(cd "$out" && pwd)/$name-setup.exe" "$here/tolvane.nsi" >&2 \
  || fail "makensis failed on packaging/windows/tolvane.nsi"

ls -l "$out/$name.zip" "$out/$name-setup.exe"
