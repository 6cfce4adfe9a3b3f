#!/usr/bin/env bash
# A USB unit unbound from its port in the middle of a session and bound again behaves as a
# socket unit does: "Disconnect device.", then a new session that completes; the logs are the
# same. The host sees a real disconnect and a new device on the same port.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
sim=$LAB_LINUX_BUILD/src/sim/quillmark-sim
# Taken out while the tool waits for the GSER answer (after its state line is written, so
# both logs agree), half a second out of the cradle, as a hand would take it.
cat >"$LAB_TMP/replug.script" <<'SCRIPT'
expect VER
send OK 1.0.05\r\n
expect GSER
quiet 300
unplug
sleep 500
plug
expect VER
send OK 1.0.05\r\n
expect GSER
send OK P2301A000417 B2210C000388 QM0000012345\r\n
quiet 300
SCRIPT
# The USB unit stays on its port until the phase has looked at it.
{ cat "$LAB_TMP/replug.script"; echo "await $LAB_TMP/seen"; } >"$LAB_TMP/usb.script"

# The session cut by the removal counts as failed (result: failed unit-removed), so the run
# exits 4 with either source.
run() { # LOG
  local rc=0
  "$cli" --read-info no --sessions 1 --timeout 60 >"$LAB_OUT/$1.log" 2>"$LAB_OUT/$1.err" || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 4 ] || lab_fail "tolvane-cli ($1) exited $rc: $(tail -5 "$LAB_OUT/$1.err")"
  echo "$rc" >"$LAB_OUT/$1.rc"
}

lab_step "through usbhid"
start_usb_unit r --script "$LAB_TMP/usb.script"
first=$(usb_device_of "$(unit_node r)") || lab_fail "the unit is not a USB device bound to usbhid"
first_devnum=$(cat "$first/devnum")
TOLVANE_DEVICE_SOURCES=hidraw run usb
[ "$(grep -c '^placed ' "$LAB_OUT/r.out")" = 2 ] || lab_fail "the unit was not placed again: $(cat "$LAB_OUT/r.out")"
again=$(usb_device_of "$(unit_node r)") || lab_fail "the replugged unit is not a USB device bound to usbhid"
[ "$again" = "$first" ] || lab_fail "replugged on $again, not on its port $first"
[ "$(cat "$again/devnum")" != "$first_devnum" ] || lab_fail "no new enumeration: device number $first_devnum again"
lab_step "on $first: device number $first_devnum, then $(cat "$again/devnum")"
touch "$LAB_TMP/seen"
rc=0; wait_unit r 30 || rc=$?
[ "$rc" = 0 ] || lab_fail "the USB unit's script failed ($rc): $(tail -3 "$LAB_OUT/r.out")"

lab_step "against the socket unit"
units=$LAB_TMP/units
mkdir -p -m 700 "$units"
"$sim" --dir "$units" --name sock --script "$LAB_TMP/replug.script" >"$LAB_OUT/sock.out" 2>&1 &
sock_pid=$!
wait_for 10 test -S "$units/sock.sock"
TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units run socket
rc=0; wait "$sock_pid" || rc=$?
[ "$rc" = 0 ] || lab_fail "the socket unit's script failed ($rc)"

grep -q 'Disconnect device\.' "$LAB_OUT/usb.log" || lab_fail "no disconnect through usbhid"
[ "$(grep -c 'Connect device : Quillmark' "$LAB_OUT/usb.log")" = 2 ] || lab_fail "no second connect through usbhid"
cmp -s "$LAB_OUT/socket.rc" "$LAB_OUT/usb.rc" || lab_fail "exit $(cat "$LAB_OUT/usb.rc") through usbhid, $(cat "$LAB_OUT/socket.rc") with sockets"
diff "$LAB_OUT/socket.err" "$LAB_OUT/usb.err" >&2 || lab_fail "status, identity, confirmation and result lines differ"
compare_logs "$LAB_OUT/socket.log" "$LAB_OUT/usb.log" || lab_fail "the activity logs differ"
