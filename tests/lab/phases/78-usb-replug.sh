#!/usr/bin/env bash
# A USB unit unbound from its port in the middle of a session and bound again behaves as a
# socket unit does: "Disconnect device.", then a new session that completes; the logs are the
# same. The host sees a real disconnect and a new device on the same port.
. "$LAB_ROOT/tests/lab/lib.sh"
replug_script "$LAB_TMP/replug.script"
# The USB unit stays on its port until the phase has looked at it.
{ cat "$LAB_TMP/replug.script"; echo "await $LAB_TMP/seen"; } >"$LAB_TMP/usb.script"

lab_step "through usbhid"
start_usb_unit r --script "$LAB_TMP/usb.script"
first=$(usb_device_of "$(unit_node r)") || lab_fail "the unit is not a USB device bound to usbhid"
first_devnum=$(cat "$first/devnum")
TOLVANE_DEVICE_SOURCES=hidraw replug_run usb
[ "$(grep -c '^placed ' "$LAB_OUT/r.out")" = 2 ] || lab_fail "the unit was not placed again: $(cat "$LAB_OUT/r.out")"
again=$(usb_device_of "$(unit_node r)") || lab_fail "the replugged unit is not a USB device bound to usbhid"
[ "$again" = "$first" ] || lab_fail "replugged on $again, not on its port $first"
[ "$(cat "$again/devnum")" != "$first_devnum" ] || lab_fail "no new enumeration: device number $first_devnum again"
lab_step "on $first: device number $first_devnum, then $(cat "$again/devnum")"
touch "$LAB_TMP/seen"
rc=0; wait_unit r 30 || rc=$?
[ "$rc" = 0 ] || lab_fail "the USB unit's script failed ($rc): $(tail -3 "$LAB_OUT/r.out")"

lab_step "against the socket unit"
replug_as_socket usb "$LAB_TMP/replug.script"
