# The Windows build's whole session under Wine through Wine's HID stack and a kernel HID
# device, against the Linux build's session over the socket unit with the same data: the same
# activity log, the same reports.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe

# An information file of about fifty packets, so that the exchange times below mean something:
# the unit's own items first (the tool reads them from the first packet), then filler.
info=$LAB_TMP/RGINFO.INI
{
  printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000012345\r\npcb P2301A000417\r\nbat B2210C000388\r\n'
  for i in $(seq 2500); do printf 'item%04d=%s\r\n' "$i" "$((i * 7919 % 100003))-lab"; done
} >"$info"

lab_step "Linux tolvane-cli, socket unit"
units=$LAB_TMP/units
mkdir -m 700 "$units"
"$LAB_SIM" --dir "$units" --step-timeout 120 --info-file "$info" --trace "$LAB_OUT/socket.trace" >"$LAB_OUT/socket-unit.out" 2>&1 &
socket_unit=$!
wait_for_line 20 "$LAB_OUT/socket-unit.out" '^placed'
TOLVANE_UNIT_DIR=$units "$cli" --read-info yes --write-serial yes --timeout 240 >"$LAB_OUT/linux.log" 2>"$LAB_OUT/linux.err" ||
  { cat "$LAB_OUT/linux.err"; lab_fail "the Linux session failed"; }
kill -TERM $socket_unit; wait $socket_unit

lab_step "tolvane-cli.exe under Wine, uhid unit"
start_unit uhid --info-file "$info" --trace "$LAB_OUT/uhid.trace"
wine_run "$cli_exe" --read-info yes --write-serial yes --timeout 240 >"$LAB_OUT/windows.log" 2>"$LAB_OUT/windows.err"
rc=$?
stop_unit uhid || true
[ $rc -eq 0 ] || { cat "$LAB_OUT/windows.err"; tail -5 "$LAB_OUT/windows.log"; lab_fail "tolvane-cli.exe exit $rc"; }
grep -q 'status: Serial write end.' "$LAB_OUT/windows.err" || lab_fail "no 'Serial write end.' (windows.err)"
lab_step "session done: $(grep -c '' "$LAB_OUT/windows.log") log lines"

compare_logs "$LAB_OUT/linux.log" "$LAB_OUT/windows.log" || lab_fail "the activity logs differ"
diff <(mask_trace "$LAB_OUT/socket.trace") <(mask_trace "$LAB_OUT/uhid.trace") >"$LAB_OUT/trace.diff" ||
  { head -20 "$LAB_OUT/trace.diff"; lab_fail "the units saw different reports"; }
diff "$LAB_OUT/linux.err" "$LAB_OUT/windows.err" || lab_fail "status, identity and confirmation lines differ"
echo "reports: $(grep -c ' > ' "$LAB_OUT/uhid.trace") out, $(grep -c ' < ' "$LAB_OUT/uhid.trace") in, the same on both"
echo "input report -> next output report (Windows under Wine, uhid): $(exchange_times "$LAB_OUT/uhid.trace")"
echo "input report -> next output report (Linux, socket):             $(exchange_times "$LAB_OUT/socket.trace")"
