#!/usr/bin/env bash
# The Windows build's whole session under Wine over a USB unit: Wine's bus meets a device the
# USB core enumerated and usbhid bound, not a uhid one. Same log and reports as the Linux
# build's session over the socket unit.
. "$LAB_ROOT/tests/lab/lib.sh"
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe
[ "$LAB_UDEVD" = 1 ] || lab_skip "Wine sees later arrivals only with the udev daemon"

info=$LAB_TMP/RGINFO.INI
printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000012345\r\npcb P2301A000417\r\nbat B2210C000388\r\n' >"$info"

lab_step "Linux tolvane-cli, socket unit"
socket_session socket "$info"

lab_step "tolvane-cli.exe under Wine, USB unit"
start_usb_unit usb --info-file "$info" --trace "$LAB_OUT/windows.trace"
usb_device=$(usb_device_of "$(unit_node usb)") || lab_fail "the unit's hidraw node hangs from no USB device"
lab_step "the unit is $usb_device"
# Wine offers the device once its bus has met the new hidraw node.
wait_for 60 sh -c "'$WINE' '$cli_exe' --list </dev/null 2>/dev/null | grep -q 'vid_1209&pid_0043'" ||
  lab_fail "Wine offers no 1209:0043 device"
wine_run "$cli_exe" --list >"$LAB_OUT/list.out" 2>/dev/null
# Wine numbers the interface (&mi_NN) of a device its bus met as USB; a uhid device has none.
grep 'vid_1209&pid_0043' "$LAB_OUT/list.out" | cut -f3 | grep -q '&mi_00#' ||
  lab_fail "Wine offers the unit as no USB interface: $(cat "$LAB_OUT/list.out")"
lab_step "Wine offers it as a USB interface: $(grep 'vid_1209&pid_0043' "$LAB_OUT/list.out" | cut -f3 | sed 's/\\/\\\\/g')"
wine_run "$cli_exe" --read-info yes --write-serial yes --timeout 240 >"$LAB_OUT/windows.log" 2>"$LAB_OUT/windows.err"
rc=$?
stop_unit usb || true
[ $rc -eq 0 ] || { cat "$LAB_OUT/windows.err"; tail -5 "$LAB_OUT/windows.log"; lab_fail "tolvane-cli.exe exit $rc"; }
lab_step "session done: $(grep -c '' "$LAB_OUT/windows.log") log lines"

same_session socket windows
echo "reports: $(grep -c ' > ' "$LAB_OUT/windows.trace") out, $(grep -c ' < ' "$LAB_OUT/windows.trace") in, the same on both"
