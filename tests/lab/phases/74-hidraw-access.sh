#!/usr/bin/env bash
# Access to a unit's node: a user who may not open it still sees it listed, and a session
# with it says on stderr what to do; the project's udev rule tags the three identifier pairs
# for the logged-in user (uaccess), gives them to the plugdev group read and write, and leaves
# other devices alone.
. "$LAB_ROOT/tests/lab/lib.sh"
[ "$LAB_UDEVD" = 1 ] || lab_skip "needs the udev daemon"
cli=$LAB_LINUX_BUILD/src/ui/console/tolvane-cli
export TOLVANE_DEVICE_SOURCES=hidraw
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp "$@"; }

lab_step "a node the user may not open"
start_unit locked
node=$(hidraw_for Quillmark)
chmod 600 "$node"
as_nobody "$cli" --list >"$LAB_OUT/list.out" 2>"$LAB_OUT/list.err" || lab_fail "--list as nobody failed"
grep -qxF "$(printf '1209:0043\tQuillmark\t%s\tff00:0001 1025/65/0' "$node")" "$LAB_OUT/list.out" \
  || lab_fail "not listed for a user who may not open it: $(cat "$LAB_OUT/list.out")"
rc=0
as_nobody "$cli" --timeout 3 >"$LAB_OUT/session.log" 2>"$LAB_OUT/session.err" || rc=$?
grep -q "$node (1209:0043): no permission to open it.*70-tolvane.rules" "$LAB_OUT/session.err" \
  || lab_fail "no line naming the fix (exit $rc): $(cat "$LAB_OUT/session.err")"
stop_unit locked

lab_step "the udev rule"
# udevadm test runs the rules on a device as udevd would, without the daemon's timing.
mkdir -p /run/udev/rules.d
cp "$LAB_ROOT/packaging/udev/70-tolvane.rules" /run/udev/rules.d/
for pair in 1209:0043 1d50:7800 1d50:7802 f055:0043; do
  start_unit "u${pair/:/_}" --vid "0x${pair%:*}" --pid "0x${pair#*:}" --product "R$pair"
  node=$(hidraw_for "R$pair")
  udevadm test --action=add "/sys/class/hidraw/${node#/dev/}" >"$LAB_OUT/test-${pair/:/_}.out" 2>&1
  tagged=0 grouped=0
  grep -q '^TAGS=.*:uaccess:' "$LAB_OUT/test-${pair/:/_}.out" && tagged=1
  # udevadm test prints the owner and mode it would set on the node.
  grep -qiE "GROUP .*plugdev|group.*plugdev|gid=$(getent group plugdev | cut -d: -f3)\b" "$LAB_OUT/test-${pair/:/_}.out" &&
    grep -qiE "MODE 0?660|mode.*0?660" "$LAB_OUT/test-${pair/:/_}.out" && grouped=1
  stop_unit "u${pair/:/_}"
  if [ "$pair" = f055:0043 ]; then
    [ $tagged = 0 ] && [ $grouped = 0 ] || lab_fail "$pair tagged uaccess or given to plugdev"
  else
    [ $tagged = 1 ] || lab_fail "$pair ($node) not tagged uaccess: $(grep -i 'tags\|tolvane' "$LAB_OUT/test-${pair/:/_}.out")"
    [ $grouped = 1 ] || lab_fail "$pair ($node) not given to plugdev 0660: $(grep -iE 'group|mode|tolvane' "$LAB_OUT/test-${pair/:/_}.out")"
  fi
done
rm -f /run/udev/rules.d/70-tolvane.rules
lab_step "uaccess and plugdev 0660 on the three pairs only"
