#!/usr/bin/env bash
# The Linux build's whole session through /dev/hidraw against a uhid unit has the same log as
# against the socket unit, and the unit receives the same output reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli

# One information file for both units, so that both uploads carry the same data.
info=$LAB_TMP/RGINFO.INI
printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000012345\r\npcb P2301A000417\r\nbat B2210C000388\r\n' >"$info"

lab_step "--list shows the uhid unit"
start_unit q --info-file "$info" --trace "$LAB_OUT/hidraw.trace"
node=$(hidraw_for Quillmark)
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "--list failed"
grep -qxF "$(printf '1209:0043\tQuillmark\t%s\tff00:0001 1025/65/0' "$node")" "$LAB_OUT/list.out" \
  || lab_fail "--list: $(cat "$LAB_OUT/list.out")"
if [ "$LAB_UDEVD" = 1 ]; then
  # With a udev daemon there is no fallback to speak of.
  ! grep -q "hidraw devices:" "$LAB_OUT/list.err" || lab_fail "a fallback with udevd running: $(cat "$LAB_OUT/list.err")"
fi

lab_step "the session through $node"
rc=0
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --read-info yes --write-serial yes --timeout 60 \
  >"$LAB_OUT/hidraw.log" 2>"$LAB_OUT/hidraw.err" || rc=$?
[ "$rc" = 0 ] || lab_fail "tolvane-cli through hidraw exited $rc: $(tail -5 "$LAB_OUT/hidraw.err")"
stop_unit q || lab_fail "the uhid unit did not end cleanly"

lab_step "the same session against the socket unit"
socket_session socket "$info"
same_session socket hidraw
lab_step "same log, same reports: $(grep -c '>' "$LAB_OUT/hidraw.trace") output reports"
