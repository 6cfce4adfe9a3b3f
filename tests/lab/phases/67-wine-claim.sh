#!/usr/bin/env bash
# One unit through Wine's HID stack, three tolvane-cli.exe runs: one session at a time, the
# next run taking the unit when its holder ends or is killed.
. "$LAB_ROOT/tests/lab/lib.sh"
claim_turns wine_claim "$WINE" "$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe"
lab_step "three runs took the unit in turn"
