#!/usr/bin/env bash
# Screenshots of the Linux window under Xvfb: before a unit is placed, after a session with a
# virtual unit (the confirmation boxes answered with Enter), and the session's activity log in
# the window that Log > Activity log... opens. Writes the PNG files to the folder given
# (default docs/).
set -euo pipefail
build=${BUILD:-build/dev}
out=${1:-docs}
mkdir -p "$out"

need=()
for tool in Xvfb:xvfb xdotool:xdotool import:imagemagick; do
  command -v "${tool%%:*}" >/dev/null || need+=("${tool##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

units=$(mktemp -d /tmp/tolvane-shot-XXXXXX)
display=:$((90 + RANDOM % 9))
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$units"; }
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display TOLVANE_UNIT_DIR=$units
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

"$build/src/ui/qt/tolvane" >/dev/null 2>&1 & pids+=($!)
window=
for _ in $(seq 100); do
  window=$(xdotool search --name '^TOLVANE$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 0.5
import -window "$window" "$out/tolvane-cradle.png"

"$build/src/sim/quillmark-sim" --dir "$units" >/dev/null 2>&1 & pids+=($!)
# Answer both confirmation boxes with Enter (OK) as they appear.
answered=0
for _ in $(seq 150); do
  box=$(xdotool search --onlyvisible --name '^Confirmation$' 2>/dev/null | head -1) || true
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
    answered=$((answered + 1))
    sleep 0.3
  elif [ "$answered" -ge 2 ]; then
    break
  else
    sleep 0.1
  fi
done
sleep 0.5
import -window "$window" "$out/tolvane-session.png"

# Alt takes the keyboard to the menu bar; Log is its third menu, Activity log... its only item.
xdotool windowfocus --sync "$window" key alt Right Right Down Return
log=
for _ in $(seq 50); do
  log=$(xdotool search --onlyvisible --name 'Activity log$' 2>/dev/null | head -1) && [ -n "$log" ] && break
  sleep 0.1
done
[ -n "$log" ] || { echo "the log window did not appear" >&2; exit 1; }
sleep 0.5
import -window "$log" "$out/tolvane-log.png"
echo "wrote $out/tolvane-cradle.png, $out/tolvane-session.png and $out/tolvane-log.png"
