#!/usr/bin/env bash
# One unit through hidraw, three tolvane-cli runs: one session at a time, the next run taking
# the unit when its holder ends or is killed.
. "$LAB_ROOT/tests/lab/lib.sh"
claim_turns hidraw_claim env TOLVANE_DEVICE_SOURCES=hidraw "$LAB_LINUX_BUILD/src/ui/console/tolvane-cli"
lab_step "three runs took the unit in turn"
