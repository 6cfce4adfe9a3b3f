#!/usr/bin/env bash
# The Linux build's hidraw source with no udev daemon: it enumerates from sysfs, says that it
# follows kernel uevents, and notices a unit placed after it started and one taken out.
. "$LAB_ROOT/tests/lab/lib.sh"
[ "$LAB_UDEVD" = 0 ] || lab_skip "wants no udev daemon"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw

lab_step "--list finds a unit placed before it starts"
start_unit early
node=$(hidraw_for Quillmark)
[ -n "$node" ] || lab_fail "the unit has no hidraw node"
"$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "tolvane-cli --list failed: $(cat "$LAB_OUT/list.err")"
grep -qxF "$(printf '1209:0043\tQuillmark\t%s\tff00:0001 1025/65/0' "$node")" "$LAB_OUT/list.out" \
  || lab_fail "--list: $(cat "$LAB_OUT/list.out")"
grep -q "no udev daemon; following kernel uevents" "$LAB_OUT/list.err" \
  || lab_fail "no word of the uevent fallback on stderr: $(cat "$LAB_OUT/list.err")"
stop_unit early || lab_fail "the unit did not end cleanly"

lab_step "a unit placed after the tool started, taken out after its session"
"$cli" --read-info yes --write-serial yes --sessions 1 --timeout 60 >"$LAB_OUT/hotplug.log" 2>"$LAB_OUT/hotplug.err" &
cli_pid=$!
wait_for_line 20 "$LAB_OUT/hotplug.err" '^status: '
start_unit late
rc=0
wait "$cli_pid" || rc=$?
[ "$rc" = 0 ] || lab_fail "tolvane-cli exited $rc: $(tail -5 "$LAB_OUT/hotplug.err")"
grep -q '^status: Serial write end\.$' "$LAB_OUT/hotplug.err" || lab_fail "no serial write end"
grep -q 'Connect device : Quillmark' "$LAB_OUT/hotplug.log" || lab_fail "no connect line"

"$cli" --sessions 0 --timeout 30 >"$LAB_OUT/removal.log" 2>"$LAB_OUT/removal.err" &
cli_pid=$!
wait_for_line 20 "$LAB_OUT/removal.log" ' 99 status'
stop_unit late
changes() { [ "$(grep -c 'device change\.$' "$LAB_OUT/removal.log")" -ge 2 ]; }
wait_for 20 changes || lab_fail "the removal raised no device change"
kill -TERM "$cli_pid"
wait "$cli_pid" || true
exit 0
