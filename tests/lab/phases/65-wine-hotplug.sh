# Hot-plug under Wine: a unit placed after tolvane-cli.exe has started and made its first scan,
# repeated with several delays; the first time a whole session, then identity reads.
. "$LAB_ROOT/tests/lab/lib.sh"
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe
[ "$LAB_UDEVD" = 1 ] || lab_skip "Wine sees later arrivals only with the udev daemon"

failures=0
for delay in 0 2 5 8; do
  log=$LAB_OUT/hotplug-$delay
  answers=(--read-info no --write-serial no)
  [ $delay = 0 ] && answers=(--read-info yes --write-serial yes)
  # Straight to files, not through a filter that would hold the lines back.
  "$WINE" "$cli_exe" "${answers[@]}" --timeout 180 </dev/null >"$log.raw" 2>"$log.raw-err" &
  cli=$!
  wait_for_line 120 "$log.raw" 'device change\.'
  sleep $delay  # the scenario: the unit arrives this long after the tool's first scan
  lab_step "placing a unit ${delay} s after the first scan"
  start_unit hot$delay --trace "$log.trace"
  rc=0
  wait $cli || rc=$?
  tr -d '\r' <"$log.raw" >"$log.log"
  tr -d '\r' <"$log.raw-err" >"$log.err"
  rm -f "$log.raw" "$log.raw-err"
  stop_unit hot$delay || true
  if [ $rc -ne 0 ] || ! grep -q 'Connect device' "$log.log" || ! grep -qE '  99 status$' "$log.log"; then
    echo "delay $delay s: tolvane-cli.exe exit $rc; its log:"
    cat "$log.log" "$log.err"
    failures=$((failures + 1))
    continue
  fi
  lab_step "delay $delay s: connected and finished ($(grep -c '' "$log.log") log lines)"
done
grep -q 'status: Serial write end.' "$LAB_OUT/hotplug-0.err" || lab_fail "the hot-plugged whole session did not reach 'Serial write end.'"
[ $failures -eq 0 ] || lab_fail "$failures of 4 hot-plugged sessions failed"
