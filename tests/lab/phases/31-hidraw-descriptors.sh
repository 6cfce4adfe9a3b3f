#!/usr/bin/env bash
# Each of the 25 captured report descriptors, made a kernel HID device, is listed by the Linux
# tolvane-cli with the usage page, usage and report lengths Windows gave for that collection.
. "$LAB_ROOT/tests/lab/lib.sh"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw
data=$LAB_ROOT/tests/data/hid-caps-windows.txt

names=()
while read -r name page usage input output feature hex; do
  case $name in '#'* | '') continue ;; esac
  echo "$hex" | sed 's/../& /g' >"$LAB_TMP/$name.hex"
  vid=0x${name:0:4} pid=0x${name:5:4}
  start_unit "d$((${#names[@]}))" --descriptor "$LAB_TMP/$name.hex" --vid "$vid" --pid "$pid" --product "$name"
  names+=("$name|$page:$usage $input/$output/$feature")
done <"$data"
lab_step "${#names[@]} devices placed"
[ "${#names[@]}" = 25 ] || lab_fail "expected 25 devices in $data"

"$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "tolvane-cli --list failed"
failed=0
for entry in "${names[@]}"; do
  name=${entry%%|*} caps=${entry#*|}
  if ! awk -F'\t' -v n="$name" -v c="$caps" '$2 == n && $3 ~ /^\/dev\/hidraw/ && $4 == c { found = 1 } END { exit !found }' \
    "$LAB_OUT/list.out"; then
    echo "$name: expected $caps, listed: $(awk -F'\t' -v n="$name" '$2 == n { printf "%s %s; ", $3, $4 }' "$LAB_OUT/list.out")" >&2
    failed=$((failed + 1))
  fi
done
for i in "${!names[@]}"; do stop_unit "d$i" || true; done
[ "$failed" = 0 ] || lab_fail "$failed of 25 devices not listed with Windows' caps"
lab_step "all 25 listed with Windows' caps"
