#!/bin/sh
# check.sh BUILD: the Debian package in BUILD/package as lintian judges it, every tag counted,
# the desktop entry as desktop-file-validate reads it, and each manual page as man renders it.
# Any message fails.
set -eu
build=$1
here=$(dirname "$0")

deb=$(ls "$build"/package/tolvane_*.deb)
lintian -I --pedantic --fail-on error,warning,info,pedantic "$deb"
desktop-file-validate "$here/../src/ui/qt/tolvane.desktop"

status=0 pages=0
for page in "$build"/packaging/man/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) ||
        warnings="$warnings (man failed)"
    if [ -n "$warnings" ]; then
        printf '%s:\n%s\n' "$page" "$warnings" >&2
        status=1
    fi
    pages=$((pages + 1))
done
[ "$status" -eq 0 ] && echo "package-check: $(basename "$deb") and $pages manual pages clean"
exit "$status"
