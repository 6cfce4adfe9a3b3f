#!/usr/bin/env bash
# A uhid unit taken out in the middle of a session and placed again behaves as a socket unit
# does: "Disconnect device.", then a new session that completes; the logs are the same.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
sim=$LAB_LINUX_BUILD/src/sim/quillmark-sim
# Half a second out of the cradle, as a hand would take it, so that the tool sees both changes.
cat >"$LAB_TMP/replug.script" <<'SCRIPT'
expect VER
send OK 1.0.05\r\n
expect GSER
unplug
sleep 500
plug
expect VER
send OK 1.0.05\r\n
expect GSER
send OK P2301A000417 B2210C000388 QM0000012345\r\n
quiet 300
SCRIPT

run() { # SOURCE LOG
  local rc=0
  "$cli" --read-info no --sessions 1 --timeout 60 >"$LAB_OUT/$2.log" 2>"$LAB_OUT/$2.err" || rc=$?
  [ "$rc" = 0 ] || lab_fail "tolvane-cli ($2) exited $rc: $(tail -5 "$LAB_OUT/$2.err")"
}

lab_step "through hidraw"
start_unit r --script "$LAB_TMP/replug.script"
TOLVANE_DEVICE_SOURCES=hidraw run hidraw hidraw
rc=0; wait_unit r 30 || rc=$?
[ "$rc" = 0 ] || lab_fail "the uhid unit's script failed ($rc): $(tail -3 "$LAB_OUT/r.out")"

lab_step "against the socket unit"
units=$LAB_TMP/units
mkdir -p -m 700 "$units"
"$sim" --dir "$units" --name sock --script "$LAB_TMP/replug.script" >"$LAB_OUT/sock.out" 2>&1 &
sock_pid=$!
wait_for 10 test -S "$units/sock.sock"
TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units run virtual socket
rc=0; wait "$sock_pid" || rc=$?
[ "$rc" = 0 ] || lab_fail "the socket unit's script failed ($rc)"

grep -q 'Disconnect device\.' "$LAB_OUT/hidraw.log" || lab_fail "no disconnect through hidraw"
[ "$(grep -c 'Connect device : Quillmark' "$LAB_OUT/hidraw.log")" = 2 ] || lab_fail "no second connect through hidraw"
compare_logs "$LAB_OUT/socket.log" "$LAB_OUT/hidraw.log" || lab_fail "the activity logs differ"
