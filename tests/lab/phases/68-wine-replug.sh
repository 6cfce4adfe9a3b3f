# The uhid unit taken out in the middle of a session under Wine and placed again: the tool
# logs the disconnection, connects again and runs a new session to its end.
. "$LAB_ROOT/tests/lab/lib.sh"
cli_exe=$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe
[ "$LAB_UDEVD" = 1 ] || lab_skip "Wine sees later arrivals only with the udev daemon"

cat >"$LAB_TMP/replug.script" <<'SCRIPT'
expect VER
send OK 1.0.05\r\n
expect GSER
unplug
plug
expect VER
send OK 1.0.05\r\n
expect GSER
send OK P2301A000417 B2210C000388 QM0000012345\r\n
quiet 300
SCRIPT
start_unit replug --script "$LAB_TMP/replug.script" --trace "$LAB_OUT/replug.trace"
wine_run "$cli_exe" --read-info no --write-serial no --timeout 240 >"$LAB_OUT/replug.log" 2>"$LAB_OUT/replug.err" &
cli=$!
# A re-placed unit that gets no VER: does Wine offer it at all? Asked while it is still placed.
if wait_for 120 sh -c "[ \$(grep -c '^placed' '$LAB_OUT/replug.out') -ge 2 ]" &&
   ! wait_for 60 sh -c "[ \$(grep -c ' > 00564552' '$LAB_OUT/replug.trace') -ge 2 ]"; then
  show_wine_devices >"$LAB_OUT/wine-devices.txt" 2>&1
fi
rc=0
wait $cli || rc=$?
wait_unit replug 60 || { cat "$LAB_OUT/replug.out" "$LAB_OUT/replug.log" "$LAB_OUT/replug.err" "$LAB_OUT/wine-devices.txt"; lab_fail "the unit's script failed"; }
# The session cut by the removal counts as failed, so the run exits 4 after the whole one.
[ $rc -eq 4 ] || { cat "$LAB_OUT/replug.log" "$LAB_OUT/replug.err"; lab_fail "tolvane-cli.exe exit $rc"; }
[ "$(grep '^result:' "$LAB_OUT/replug.err" | tr -d '\r' | tr '\n' '|')" = "result: failed unit-removed|result: ok|" ] ||
  { cat "$LAB_OUT/replug.err"; lab_fail "not one cut and one whole session"; }
sed -E 's/^[^,]*,//' "$LAB_OUT/replug.log" >"$LAB_TMP/messages"
for line in 'Connect device' 'Disconnect device.' '99 status'; do
  grep -q -- "$line" "$LAB_TMP/messages" || { cat "$LAB_OUT/replug.log"; lab_fail "no '$line' in the log"; }
done
[ "$(grep -c 'Connect device' "$LAB_TMP/messages")" -eq 2 ] || { cat "$LAB_OUT/replug.log"; lab_fail "not two connections"; }
awk '/Disconnect device\./ { d = 1 } d && /Connect device/ { c = 1 } c && / 99 status$/ { ok = 1 } END { exit !ok }' \
  "$LAB_TMP/messages" || { cat "$LAB_OUT/replug.log"; lab_fail "no whole session after the re-placement"; }
cat "$LAB_TMP/messages"
