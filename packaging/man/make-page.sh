#!/bin/sh
# make-page.sh PROGRAM VERSION DATE WHATIS INCLUDE OUTPUT: PROGRAM's manual page, made by
# help2man from its --help, dated DATE (the release's, so that a rebuild makes the same page),
# gzip -9n compressed (no time stamp) as Debian wants it.
set -eu

if [ "$1" = --help-of ]; then
    # help2man reads the help through this. The window's --help needs no display. help2man
    # makes sections of the Environment:, Files: and Examples: paragraphs by name, of any other
    # heading only in its *Heading* form.
    help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$2" --help)
    printf '%s\n' "$help" | sed -e 's/^Exit status:[[:space:]]*$/*Exit status*/' -e 's/^usage:/Usage:/'
    exit 0
fi

program=$1 version=$2 date=$3 whatis=$4 include=$5 output=$6
page=$output.tmp
SOURCE_DATE_EPOCH=$(date -d "$date" +%s) help2man --no-info --section=1 --name="$whatis" --include="$include" \
    --version-string="$(basename "$program") $version" --output="$page" \
    "'$0' --help-of '$program'"
gzip -9n -c "$page" >"$output"
rm -f "$page"
