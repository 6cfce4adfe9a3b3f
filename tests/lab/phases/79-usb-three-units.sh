#!/usr/bin/env bash
# Two, then three USB units of the identifier pairs, each on a port of its own: the tool takes
# 1209:0043 first, then 1D50:7800, then 1D50:7802, whatever order they were placed in.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw

declare -A pair=([a]="0x1209 0x0043 Q0043" [b]="0x1d50 0x7800 Q7800" [c]="0x1d50 0x7802 Q7802")

# units NAME... (placed in that order, taken in name order): each on its own port, the tool
# takes them in the identifier pairs' order.
units() {
  local log=$LAB_OUT/$#.log names=("$@") n vid pid product port ports=() expected='' sessions=$#
  for n in "${names[@]}"; do
    read -r vid pid product <<<"${pair[$n]}"
    start_usb_unit "$n" --vid "$vid" --pid "$pid" --product "$product"
    port=$(usb_device_of "$(unit_node "$n")") || lab_fail "unit $n is not a USB device bound to usbhid"
    ports+=("$port")
  done
  [ "$(printf '%s\n' "${ports[@]}" | sort -u | wc -l)" = "$sessions" ] || lab_fail "units share a port: ${ports[*]}"
  lab_step "placed ${names[*]} on ${ports[*]}"
  "$cli" --read-info no --sessions "$sessions" --timeout 60 >"$log" 2>"$LAB_OUT/$sessions.err" &
  local cli_pid=$! rc=0 k=0
  finished() { [ "$(grep -c ' 99 status' "$log")" -ge "$1" ]; }
  # A finished unit stays in the cradle; taking it out lets the tool take the next.
  for n in $(printf '%s\n' "${names[@]}" | sort); do
    k=$((k + 1))
    expected+="${pair[$n]##* } "
    [ "$k" = "$sessions" ] && break
    wait_for 60 finished "$k" || lab_fail "no session $k"
    stop_unit "$n" || lab_fail "unit $n did not end cleanly"
  done
  wait "$cli_pid" || rc=$?
  for n in "${names[@]}"; do stop_unit "$n" || lab_fail "unit $n did not end cleanly"; done
  [ "$rc" = 0 ] || lab_fail "tolvane-cli exited $rc: $(tail -5 "$LAB_OUT/$sessions.err")"
  local order
  order=$(grep -o 'Connect device : Q[0-9]*' "$log" | sed 's/.* : //' | tr '\n' ' ')
  [ "$order" = "$expected" ] || lab_fail "taken in the order: $order, not $expected"
  lab_step "taken in the order $order"
}

units b a
units c b a
[ -z "$(ls /sys/kernel/config/usb_gadget)" ] || lab_fail "gadgets left in configfs: $(ls /sys/kernel/config/usb_gadget)"
