#!/usr/bin/env bash
# The Linux build's whole session through usbhid against a USB gadget unit has the same log as
# against the socket unit, and the unit receives the same output reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli

# One information file for both units, so that both uploads carry the same data.
info=$LAB_TMP/RGINFO.INI
printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000012345\r\npcb P2301A000417\r\nbat B2210C000388\r\n' >"$info"

lab_step "--list shows the USB unit"
start_usb_unit q --info-file "$info" --trace "$LAB_OUT/usb.trace"
node=$(unit_node q)
device=$(usb_device_of "$node") || lab_fail "$node does not hang from a USB device through usbhid"
[ "$(cat "$device/idVendor"):$(cat "$device/idProduct"):$(cat "$device/product")" = 1209:0043:Quillmark ] ||
  lab_fail "$device is not the unit's gadget"
lab_step "$node on $device ($(cat "$device/speed") Mb/s)"
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "--list failed"
grep -qxF "$(printf '1209:0043\tQuillmark\t%s\tff00:0001 1025/65/0' "$node")" "$LAB_OUT/list.out" ||
  lab_fail "--list: $(cat "$LAB_OUT/list.out")"

lab_step "the session through $node"
rc=0
TOLVANE_DEVICE_SOURCES=hidraw "$cli" --read-info yes --write-serial yes --timeout 60 \
  >"$LAB_OUT/usb.log" 2>"$LAB_OUT/usb.err" || rc=$?
[ "$rc" = 0 ] || lab_fail "tolvane-cli through usbhid exited $rc: $(tail -5 "$LAB_OUT/usb.err")"
stop_unit q || lab_fail "the USB unit did not end cleanly: $(tail -3 "$LAB_OUT/q.out")"
[ -z "$(ls /sys/kernel/config/usb_gadget)" ] || lab_fail "gadgets left in configfs: $(ls /sys/kernel/config/usb_gadget)"

lab_step "the same session against the socket unit"
socket_session socket "$info"
same_session socket usb
lab_step "same log, same reports: $(grep -c '>' "$LAB_OUT/usb.trace") output reports"
