# tolvane.exe, the Win32 window, under Wine on the lab's display: a whole session against a
# uhid unit, both confirmation boxes answered with OK, and a picture of the window at the end;
# then the activity log's window, opened from the menu, and a picture of it.
# Numbered before the hidraw phases: during 74-hidraw-access Wine's HID bus host at times exits (no Wine
# program runs then), and Wine offers no device at all afterwards.
. "$LAB_ROOT/tests/lab/lib.sh"
exe=$LAB_WINDOWS_BUILD/src/ui/win32/tolvane.exe
[ "$LAB_UDEVD" = 1 ] || lab_skip "Wine sees later arrivals only with the udev daemon"

# What a failure leaves: the window's controls (its activity log among them) and the devices
# Wine offers.
show_state() {
  echo "the window's controls:"
  "$WINE" "$LAB_WINDOWS_BUILD/tests/windows/window-text.exe" TForm1 </dev/null 2>&1 | tr -d '\r'
  show_wine_devices
}

start_unit window --trace "$LAB_OUT/window.trace"
"$WINE" "$exe" </dev/null >"$LAB_OUT/tolvane.out" 2>&1 &
app=$!
wait_for 120 xdotool search --name '^TOLVANE$' || lab_fail "no window captioned TOLVANE"
window=$(xdotool search --name '^TOLVANE$' | head -1)

# answer_box N: waits for the N-th confirmation box and presses its default button (OK).
answer_box() {
  local box
  wait_for 180 xdotool search --name '^Confirmation$' || { import -window root "$LAB_OUT/no-box-$1.png"; show_state; lab_fail "confirmation box $1 did not show"; }
  box=$(xdotool search --name '^Confirmation$' | head -1)
  xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
  xdotool key --clearmodifiers Return
  wait_for 60 sh -c "! xdotool search --name '^Confirmation\$' >/dev/null" || lab_fail "confirmation box $1 did not close"
  lab_step "confirmation box $1 answered OK"
}
answer_box 1
answer_box 2

# The last report is the unit's reply to SSER; then the window settles.
wait_for 120 sh -c "grep ' > ' '$LAB_OUT/window.trace' | tail -1 | cut -d' ' -f3 | grep -q '^00'\$(printf SSER | od -An -tx1 | tr -d ' \n')" ||
  lab_fail "no SSER reached the unit"
wait_for_line 60 "$LAB_OUT/window.trace" ' < 00'"$(printf 'OK\r\n' | od -An -tx1 | tr -d ' \n')"
# settled_shot WINDOW FILE: a picture of the window once two in a row, half a second apart, agree.
settled_shot() {
  local previous= sum
  for _ in $(seq 60); do
    sum=$(import -window "$1" rgb:- | md5sum)
    [ "$sum" = "$previous" ] && break
    previous=$sum
    sleep 0.5
  done
  import -window "$1" "$2"
}
shot=$LAB_OUT/tolvane-windows-session.png
settled_shot "$window" "$shot"
lab_step "screenshot: $shot"

# The activity log in its own window, from Log > Activity log...: the menu's captions have no
# mnemonic, so F10 walks the menu bar to its third menu.
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --clearmodifiers F10 Right Right Return Return
wait_for 60 xdotool search --name '^TOLVANE - Activity log$' ||
  { import -window root "$LAB_OUT/no-log-window.png"; lab_fail "Log > Activity log... opened no window"; }
log_window=$(xdotool search --name '^TOLVANE - Activity log$' | head -1)
# It shows Memo1's lines exactly, the version line in Japanese among them.
edit_text() {
  "$WINE" "$LAB_WINDOWS_BUILD/tests/windows/window-text.exe" "$1" </dev/null 2>&1 | tr -d '\r' |
    awk 'tolower($0) == "== edit" { edits++; on = edits == 1; next } /^== / { on = 0; next } on'
}
same_log() {
  local shown
  shown=$(edit_text TOLVANE.ActivityLog)
  [ -n "$shown" ] && [ "$shown" = "$(edit_text TForm1)" ]
}
wait_for 60 same_log || { edit_text TOLVANE.ActivityLog; show_state; lab_fail "the log window does not show Memo1's lines"; }
edit_text TOLVANE.ActivityLog | grep -q 'バージョン' ||
  lab_fail "the log window shows no version line"
log_shot=$LAB_OUT/tolvane-windows-log.png
settled_shot "$log_window" "$log_shot"
lab_step "log window: $(edit_text TOLVANE.ActivityLog | wc -l) lines, screenshot: $log_shot"

"$WINE" taskkill /im tolvane.exe >/dev/null 2>&1 </dev/null
wait_for 60 sh -c "! kill -0 $app 2>/dev/null" || lab_fail "tolvane.exe did not close on WM_CLOSE"
wait $app
stop_unit window || true
