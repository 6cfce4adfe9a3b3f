#!/usr/bin/env bash
# tolvane-cli --station with three USB units, each on a port of its own: each slot is the
# unit's USB port path, and a unit unplugged and plugged back into its port is served again
# in the same slot.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw

identity='send OK P2301A000417 B2210C000388 QM0000012345\r\n'
# A's first session, then out of its port and back in once the station has ended that session.
printf '%s\n' 'expect VER' 'send OK 1.0.05\r\n' 'expect GSER' "$identity" "await $LAB_TMP/replug" \
  'unplug' 'sleep 500' 'plug' 'expect VER' 'send OK 1.0.05\r\n' 'expect GSER' "$identity" \
  "await $LAB_TMP/end" >"$LAB_TMP/A.script"
printf '%s\n' 'expect VER' 'send OK 1.0.05\r\n' 'expect GSER' "$identity" "await $LAB_TMP/end" >"$LAB_TMP/once.script"

lab_step "three units on their own ports"
start_usb_unit A --product QA --script "$LAB_TMP/A.script" --step-timeout 900
start_usb_unit B --product QB --script "$LAB_TMP/once.script" --step-timeout 900
start_usb_unit C --product QC --script "$LAB_TMP/once.script" --step-timeout 900
declare -A port
for u in A B C; do
  port[$u]=$(usb_device_of "$(unit_node $u)") || lab_fail "unit $u hangs from no USB device"
done
[ "$(printf '%s\n' "${port[@]}" | sort -u | wc -l)" = 3 ] || lab_fail "the units share a port: ${port[*]}"
lab_step "ports: ${port[A]} ${port[B]} ${port[C]}"

"$cli" --station --read-info no --sessions 4 --timeout 600 </dev/null >"$LAB_OUT/station.out" 2>"$LAB_OUT/station.err" &
station=$!
wait_for 300 sh -c "[ \$(grep -c 'result: ' '$LAB_OUT/station.err') -ge 3 ]" ||
  lab_fail "three sessions did not end: $(tail -5 "$LAB_OUT/station.err")"
for u in A B C; do
  grep -qxF "[${port[$u]}] result: ok" "$LAB_OUT/station.err" ||
    lab_fail "unit $u: no '[${port[$u]}] result: ok' in station.err"
done
lab_step "three sessions ok, each in its port's slot"

touch "$LAB_TMP/replug"
rc=0
wait $station || rc=$?
[ $rc = 0 ] || { touch "$LAB_TMP/end"; lab_fail "the station exited $rc: $(tail -5 "$LAB_OUT/station.err")"; }
[ "$(grep -cxF "[${port[A]}] result: ok" "$LAB_OUT/station.err")" = 2 ] ||
  lab_fail "unit A plugged back was not served again in slot ${port[A]}"
replugged=$(usb_device_of "$(unit_node A)") || lab_fail "unit A hangs from no USB device after the replug"
[ "$replugged" = "${port[A]}" ] || lab_fail "unit A came back on $replugged, not ${port[A]}"
touch "$LAB_TMP/end"
for u in A B C; do
  rc=0; wait_unit $u 60 || rc=$?
  [ $rc = 0 ] || lab_fail "unit $u's script failed ($rc): $(tail -3 "$LAB_OUT/$u.out")"
done
lab_step "unit A unplugged and plugged back: served again in slot ${port[A]}"
