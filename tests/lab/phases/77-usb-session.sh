#!/usr/bin/env bash
# The Linux build's whole session through usbhid against a USB gadget unit has the same log as
# against the socket unit, and the unit receives the same output reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
sim=$LAB_LINUX_BUILD/src/sim/quillmark-sim

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
units=$LAB_TMP/units
mkdir -p -m 700 "$units"
"$sim" --dir "$units" --name sock --info-file "$info" --trace "$LAB_OUT/socket.trace" >"$LAB_OUT/sock.out" 2>&1 &
sock_pid=$!
wait_for 10 test -S "$units/sock.sock"
rc=0
TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units "$cli" --read-info yes --write-serial yes --timeout 60 \
  >"$LAB_OUT/socket.log" 2>"$LAB_OUT/socket.err" || rc=$?
kill -TERM "$sock_pid"
wait "$sock_pid" || true
[ "$rc" = 0 ] || lab_fail "tolvane-cli against the socket unit exited $rc"

compare_logs "$LAB_OUT/socket.log" "$LAB_OUT/usb.log" || lab_fail "the activity logs differ"
diff <(mask_trace "$LAB_OUT/socket.trace") <(mask_trace "$LAB_OUT/usb.trace") >&2 ||
  lab_fail "the units' traces differ"
diff <(grep -v '^result: ' "$LAB_OUT/socket.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') \
  <(grep -v '^result: ' "$LAB_OUT/usb.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') >&2 ||
  lab_fail "the confirmations and identity lines differ"
grep -q '^status: Serial write end\.$' "$LAB_OUT/usb.err" || lab_fail "no serial write end through usbhid"
lab_step "same log, same reports: $(grep -c '>' "$LAB_OUT/usb.trace") output reports"
