#!/usr/bin/env bash
# `make run`: places one virtual Quillmark unit in a private unit directory and starts the
# tool with it in the cradle: the window when there is a display, else tolvane-cli, which
# prints a whole session's activity log.
set -euo pipefail
build=${1:-build/dev}
units=$(mktemp -d /tmp/tolvane-run-XXXXXX)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$units"
}
trap cleanup EXIT

"$build/src/sim/quillmark-sim" --dir "$units" >"$units/.sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -q '^placed ' "$units/.sim.out" 2>/dev/null && break
  sleep 0.05
done
export TOLVANE_UNIT_DIR=$units

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "A virtual unit sits in the cradle ($units); starting the window."
  "$build/src/ui/qt/tolvane"
else
  echo "No display: running tolvane-cli with a virtual unit in the cradle ($units)."
  "$build/src/ui/console/tolvane-cli" --read-info yes --write-serial yes --timeout 30
fi
