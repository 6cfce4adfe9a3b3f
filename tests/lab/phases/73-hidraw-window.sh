#!/usr/bin/env bash
# The Qt window runs a whole session with a uhid unit on the lab's display: both confirmation
# boxes answered OK, and the unit receives the serial write.
. "$LAB_ROOT/tests/lab/lib.sh"
window_program=$LAB_LINUX_BUILD/src/ui/qt/tolvane
export TOLVANE_DEVICE_SOURCES=hidraw

start_unit w --trace "$LAB_OUT/window.trace"
"$window_program" >"$LAB_OUT/window.out" 2>"$LAB_OUT/window.err" &
window_pid=$!
window_id() { xdotool search --name '^TOLVANE$' 2>/dev/null | head -1 | grep -q .; }
wait_for 20 window_id || lab_fail "the window did not appear"
answered=0
serial_written() { grep -q '> 0053534552' "$LAB_OUT/window.trace"; }
for _ in $(seq 300); do
  serial_written && break
  box=$(xdotool search --onlyvisible --name '^Confirmation$' 2>/dev/null | head -1) || true
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
    answered=$((answered + 1))
    wait_for 5 bash -c "! xdotool search --onlyvisible --name '^Confirmation\$' | grep -qx '$box'" || true
  else
    sleep 0.1
  fi
done
serial_written || lab_fail "the window's session did not reach the serial write (boxes answered: $answered)"
import -window "$(xdotool search --name '^TOLVANE$' | head -1)" "$LAB_OUT/window.png" 2>/dev/null || true
kill -TERM "$window_pid"
wait "$window_pid" || true
stop_unit w || true
lab_step "serial written from the window; boxes answered: $answered"
