#!/usr/bin/env bash
# Inside the lab VM: a display, a Wine prefix, then every tests/lab/phases/NN-name.sh in name
# order; phases numbered 50 and up run with the udev daemon. See tests/lab/README.md.
set -uo pipefail
export LAB_ROOT=${LAB_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
export LAB_LINUX_BUILD=${LAB_LINUX_BUILD:-$LAB_ROOT/build/ci}
export LAB_WINDOWS_BUILD=${LAB_WINDOWS_BUILD:-$LAB_ROOT/build/windows}
export LAB_UDEVD=0
out_root=$LAB_ROOT/build/lab/out
patterns=${LAB_PHASES:-*}
cd "$LAB_ROOT"
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
t0=$(now)
[ -n "${LAB_DEBUG:-}" ] && { PS4='+ $(date +%T) '; set -x; }

# The host's /tmp shows through: its X and Wine sockets lead nowhere in here.
rm -rf /tmp/.X11-unix /tmp/.X*-lock /tmp/.wine-"$(id -u)"

export DISPLAY=:1
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/tmp/lab-xvfb.log 2>&1 </dev/null &
xvfb=$!
for _ in $(seq 300); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "run-phases: Xvfb did not start"; cat /tmp/lab-xvfb.log; exit 1; }

# The prefix made on the host by tests/lab/wine-prefix.sh (writable here through an overlay),
# or made now, which takes minutes under emulation.
export WINEPREFIX=${LAB_WINEPREFIX:-/tmp/lab-wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
[ -e "$WINEPREFIX/.lab-stamp" ] || "$LAB_ROOT/tests/lab/wine-prefix.sh" "$WINEPREFIX"
# One server for the whole run and Wine's devices started, output detached so no pipe stays open.
wineserver -p >/dev/null 2>&1 </dev/null
"$WINE" wineboot >/dev/null 2>&1 </dev/null
# The first program to need a window starts Wine's desktop process, and user32 waits only
# 10 s for it: under emulation that can run out, and the program gets no window. The desktop
# goes when the last program ends, so an idle console program holds it for the whole run, and
# a listing run (retried) starts it before the phases.
mkfifo /tmp/lab-desktop-holder
exec 6<>/tmp/lab-desktop-holder
"$WINE" cmd.exe </tmp/lab-desktop-holder >/dev/null 2>&1 6>&- &
for try in 1 2 3; do
  "$WINE" "$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe" --list </dev/null >/tmp/lab-warmup.log 2>&1 && break
  echo "run-phases: warm-up listing $try failed: $(tr -d '\r' </tmp/lab-warmup.log | tail -1)"
done
echo "run-phases: display and Wine prefix ready in $(since "$t0") s"

# Wine's HID bus lives in one of its driver hosts: say after which phase a host went.
hosts() { pgrep -c -f 'winedevice\.exe' || true; }
hosts_before=$(hosts)
failed=() summary=()
for phase in tests/lab/phases/[0-9][0-9]-*.sh; do
  name=$(basename "$phase" .sh)
  selected=0
  set -f  # the patterns match phase names, not files here
  for p in $patterns; do
    # shellcheck disable=SC2053
    [[ $name == $p || $name.sh == $p ]] && selected=1
  done
  set +f
  [ $selected -eq 1 ] || continue
  if [ "${name%%-*}" -ge 50 ] && [ $LAB_UDEVD -eq 0 ]; then
    t=$(now)
    /lib/systemd/systemd-udevd --daemon >/dev/null 2>&1 </dev/null
    udevadm trigger --action=add >/dev/null 2>&1
    udevadm settle --timeout=30 >/dev/null 2>&1
    LAB_UDEVD=1
    echo "run-phases: udev daemon started in $(since "$t") s"
  fi
  export LAB_OUT=$out_root/$name LAB_TMP=/tmp/lab-phase-$name
  rm -rf "$LAB_OUT" "$LAB_TMP"
  mkdir -p "$LAB_OUT" "$LAB_TMP"
  echo "== $name"
  t=$(now)
  setsid bash "$phase" </dev/null 6>&- &
  pid=$!
  wait $pid
  rc=$?
  if kill -0 -- -$pid 2>/dev/null; then
    echo "run-phases: $name left processes running; stopping them:"
    ps -o pid,args -g $pid 2>/dev/null | tail -n +2
    kill -KILL -- -$pid 2>/dev/null
  fi
  case $rc in
    0) result=PASS ;;
    77) result=SKIP ;;
    *) result=FAIL; failed+=("$name") ;;
  esac
  line="$name: $result ($(since "$t") s)"
  hosts_now=$(hosts)
  [ "$hosts_now" = "$hosts_before" ] || line+=" [Wine's driver hosts: $hosts_before -> $hosts_now]"
  hosts_before=$hosts_now
  summary+=("$line")
  echo "-- $line"
done

exec 6>&-  # the holder reads the end of its input and exits
"$WINE" wineboot -e >/dev/null 2>&1 </dev/null || true
wineserver -k >/dev/null 2>&1 </dev/null
kill "$xvfb" 2>/dev/null
echo "== summary (total $(since "$t0") s in the VM)"
printf '%s\n' "${summary[@]}"
[ ${#failed[@]} -eq 0 ] || { echo "failed: ${failed[*]}"; exit 1; }
