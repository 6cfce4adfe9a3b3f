#!/usr/bin/env bash
# The Linux build's whole session through /dev/hidraw against a uhid unit has the same log as
# against the socket unit, and the unit receives the same output reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
sim=$LAB_LINUX_BUILD/src/sim/quillmark-sim

lab_step "--list shows the uhid unit"
start_unit q --trace "$LAB_OUT/hidraw.trace"
node=$(hidraw_for Quillmark)
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "--list failed"
grep -qxF "$(printf '1209:0043\tQuillmark\t%s\tff00:0001 1025/65/0' "$node")" "$LAB_OUT/list.out" \
  || lab_fail "--list: $(cat "$LAB_OUT/list.out")"
if [ "$LAB_UDEVD" = 1 ]; then
  grep -q "following udev events" "$LAB_OUT/list.err" || lab_fail "udev events not followed: $(cat "$LAB_OUT/list.err")"
fi

lab_step "the session through $node"
rc=0
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --read-info yes --write-serial yes --timeout 60 \
  >"$LAB_OUT/hidraw.log" 2>"$LAB_OUT/hidraw.err" || rc=$?
[ "$rc" = 0 ] || lab_fail "tolvane-cli through hidraw exited $rc: $(tail -5 "$LAB_OUT/hidraw.err")"
stop_unit q || lab_fail "the uhid unit did not end cleanly"

lab_step "the same session against the socket unit"
units=$LAB_TMP/units
mkdir -p -m 700 "$units"
"$sim" --dir "$units" --name sock --trace "$LAB_OUT/socket.trace" >"$LAB_OUT/sock.out" 2>&1 &
sock_pid=$!
wait_for 10 test -S "$units/sock.sock"
rc=0
TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units "$cli" --read-info yes --write-serial yes --timeout 60 \
  >"$LAB_OUT/socket.log" 2>"$LAB_OUT/socket.err" || rc=$?
kill -TERM "$sock_pid"
wait "$sock_pid" || true
[ "$rc" = 0 ] || lab_fail "tolvane-cli against the socket unit exited $rc"

compare_logs "$LAB_OUT/socket.log" "$LAB_OUT/hidraw.log" || lab_fail "the activity logs differ"
diff <(sed 's/^[^ ]* //' "$LAB_OUT/socket.trace") <(sed 's/^[^ ]* //' "$LAB_OUT/hidraw.trace") >&2 \
  || lab_fail "the units' traces differ"
diff <(grep -v '^result: ' "$LAB_OUT/socket.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') \
  <(grep -v '^result: \|^tolvane: hidraw devices' "$LAB_OUT/hidraw.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') >&2 \
  || lab_fail "the confirmations and identity lines differ"
grep -q '^status: Serial write end\.$' "$LAB_OUT/hidraw.err" || lab_fail "no serial write end through hidraw"
lab_step "same log, same reports: $(grep -c '>' "$LAB_OUT/hidraw.trace") output reports"
