#!/usr/bin/env bash
# Three uhid units of the three identifier pairs: the tool takes 1209:0043 first, then
# 1D50:7800, then 1D50:7802, whatever order they were placed in.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw
log=$LAB_OUT/three.log

start_unit c --vid 0x1d50 --pid 0x7802 --product Q7802
start_unit b --vid 0x1d50 --pid 0x7800 --product Q7800
start_unit a --vid 0x1209 --pid 0x0043 --product Q0043
"$cli" --read-info no --sessions 3 --timeout 60 >"$log" 2>"$LAB_OUT/three.err" &
cli_pid=$!
finished() { [ "$(grep -c ' 99 status' "$log")" -ge "$1" ]; }
# A finished unit stays in the cradle; taking it out lets the tool take the next.
wait_for 30 finished 1 || lab_fail "no first session"
stop_unit a
wait_for 30 finished 2 || lab_fail "no second session"
stop_unit b
rc=0
wait "$cli_pid" || rc=$?
stop_unit c
[ "$rc" = 0 ] || lab_fail "tolvane-cli exited $rc: $(tail -5 "$LAB_OUT/three.err")"
order=$(grep -o 'Connect device : Q[0-9]*' "$log" | sed 's/.* : //' | tr '\n' ' ')
[ "$order" = "Q0043 Q7800 Q7802 " ] || lab_fail "taken in the order: $order"
lab_step "taken in the order $order"
