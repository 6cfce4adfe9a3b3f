#!/usr/bin/env bash
# `make run`: places one virtual Quillmark unit in a private unit directory and waits until
# Ctrl-C takes it out again. Every report in and out is traced on the terminal.
set -euo pipefail
build=${1:-build/dev}
units=$(mktemp -d /tmp/tolvane-run-XXXXXX)
trap 'rm -rf "$units"' EXIT

cat <<EOT
A virtual Quillmark unit sits in $units.
Point the tool at it with:  export TOLVANE_UNIT_DIR=$units
Press Ctrl-C to take the unit out.
EOT
"$build/src/sim/quillmark-sim" --dir "$units" --trace - || true
