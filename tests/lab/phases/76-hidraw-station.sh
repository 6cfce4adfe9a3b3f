#!/usr/bin/env bash
# tolvane-cli --station through /dev/hidraw: three units served at once, each session as a
# one-unit session, each record true to its unit; a unit taken out mid-session leaves the
# other two sessions untouched.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw

# A uhid device has no USB port: its slot is the HID device's own sysfs path.
where() {
  local p node
  for p; do
    node=$(hidraw_for "$p") || return 1
    printf '%s\t%s\t%s\n' "$p" "$(readlink -f "/sys/class/hidraw/${node#/dev/}/device")" "$node"
  done
}

station_place where
lab_step "the reference: a plain session with one unit"
station_reference "$cli"
lab_step "three units, one station run"
station_all_served "$cli"
lab_step "three units, one taken out mid-session"
station_removal "$cli"
station_stop
lab_step "every session as the reference's, every record true to its unit"
