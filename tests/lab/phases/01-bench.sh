# The bench itself: uhid, the display and Wine's HID bus are there.
. "$LAB_ROOT/tests/lab/lib.sh"
[ -c /dev/uhid ] || lab_fail "/dev/uhid is missing"
xdpyinfo >/dev/null || lab_fail "no display at $DISPLAY"
list=$(wine_run "$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe" --list) || lab_fail "tolvane-cli.exe --list failed"
echo "$list"
