# The Windows build's whole session under Wine through Wine's HID stack and a kernel HID
# device, against the Linux build's session over the socket unit with the same data: the same
# activity log, the same reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe

# An information file of about fifty packets, so that the exchange times below mean something:
# the unit's own items first (the tool reads them from the first packet), then filler.
info=$LAB_TMP/RGINFO.INI
{
  printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000012345\r\npcb P2301A000417\r\nbat B2210C000388\r\n'
  for i in $(seq 2500); do printf 'item%04d=%s\r\n' "$i" "$((i * 7919 % 100003))-lab"; done
} >"$info"

lab_step "Linux tolvane-cli, socket unit"
socket_session socket "$info"

lab_step "tolvane-cli.exe under Wine, uhid unit"
start_unit uhid --info-file "$info" --trace "$LAB_OUT/windows.trace"
wine_run "$cli_exe" --read-info yes --write-serial yes --timeout 240 >"$LAB_OUT/windows.log" 2>"$LAB_OUT/windows.err"
rc=$?
stop_unit uhid || true
[ $rc -eq 0 ] || { cat "$LAB_OUT/windows.err"; tail -5 "$LAB_OUT/windows.log"; lab_fail "tolvane-cli.exe exit $rc"; }
lab_step "session done: $(grep -c '' "$LAB_OUT/windows.log") log lines"

same_session socket windows
echo "reports: $(grep -c ' > ' "$LAB_OUT/windows.trace") out, $(grep -c ' < ' "$LAB_OUT/windows.trace") in, the same on both"
echo "input report -> next output report (Windows under Wine, uhid): $(exchange_times "$LAB_OUT/windows.trace")"
echo "input report -> next output report (Linux, socket):             $(exchange_times "$LAB_OUT/socket.trace")"
