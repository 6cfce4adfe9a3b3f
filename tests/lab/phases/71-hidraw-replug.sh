#!/usr/bin/env bash
# A uhid unit taken out in the middle of a session and placed again behaves as a socket unit
# does: "Disconnect device.", then a new session that completes; the logs are the same.
. "$LAB_ROOT/tests/lab/lib.sh"
replug_script "$LAB_TMP/replug.script"

lab_step "through hidraw"
start_unit r --script "$LAB_TMP/replug.script"
TOLVANE_DEVICE_SOURCES=hidraw replug_run hidraw
rc=0; wait_unit r 30 || rc=$?
[ "$rc" = 0 ] || lab_fail "the uhid unit's script failed ($rc): $(tail -3 "$LAB_OUT/r.out")"

lab_step "against the socket unit"
replug_as_socket hidraw "$LAB_TMP/replug.script"
