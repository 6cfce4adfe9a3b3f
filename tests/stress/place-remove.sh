#!/usr/bin/env bash
# Places and removes a unit CYCLES times (default 1000) under one `tolvane-cli --sessions 0`
# built with AddressSanitizer; every third unit is taken out in the middle of its upload.
# Checks that every session begun has ended, that the tool's file descriptors and threads are
# back to their starting count whenever it is idle, and that it exits after SIGINT with no
# leak or memory error reported. Takes several minutes: not part of `make test`.
#   tests/stress/place-remove.sh [BUILD_DIR]    (default build/asan, built here when missing)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/asan}
cycles=${CYCLES:-1000}
if [ $# -eq 0 ]; then
    cmake --preset asan >/dev/null
    cmake --build --preset asan --target tolvane-cli quillmark-sim >/dev/null
fi
cli=$build/src/ui/console/tolvane-cli
sim=$build/src/sim/quillmark-sim

work=$(mktemp -d /tmp/tolvane-stress-XXXXXX)
export TOLVANE_UNIT_DIR=$work/units
mkdir -m 700 "$TOLVANE_UNIT_DIR"
out=$work/out.log err=$work/err.log
cli_pid= sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$cli_pid" ] && kill "$cli_pid" 2>/dev/null && wait "$cli_pid" 2>/dev/null
    true
}
trap cleanup EXIT

fail() {
    echo "place-remove: FAILED at cycle ${cycle:-0}: $*" >&2
    echo "  logs kept in $work" >&2
    trap - EXIT
    cleanup
    exit 1
}

# An information file of about 300 packets, so that an upload is still running when the
# unit is taken out.
{
    printf 'pcb P2301A000417\r\nbat B2210C000388\r\nser QM0000012345\r\n'
    head -c 300000 /dev/zero | tr '\0' ';'
} >"$work/long.ini"

count() { grep -ac -- "$1" "$2" || true; }

# Polls until `count PATTERN FILE` reaches N; a unit's work takes well under a second, the
# limit only keeps a hang from lasting forever.
wait_count() {
    local pattern=$1 file=$2 n=$3
    for _ in $(seq 3000); do
        [ "$(count "$pattern" "$file")" -ge "$n" ] && return 0
        kill -0 "$cli_pid" 2>/dev/null || fail "tolvane-cli ended"
        sleep 0.01
    done
    fail "no '$pattern' number $n in $file"
}

resources() { echo "$(ls /proc/"$cli_pid"/fd | wc -l) $(ls /proc/"$cli_pid"/task | wc -l)"; }

# Idle again: descriptors and threads as at the start (the reader ends a moment after the
# unit is given back, so this waits for it).
wait_idle() {
    local now
    for _ in $(seq 500); do
        now=$(resources)
        [ "$now" = "$baseline" ] && return 0
        sleep 0.01
    done
    fail "descriptors and threads '$now', at the start '$baseline'"
}

ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 "$cli" --sessions 0 --read-info yes --write-serial yes >"$out" 2>"$err" &
cli_pid=$!
wait_count 'status: Please set Quillmark to a cradle.' "$err" 1
wait_count 'device change.' "$out" 1
baseline=$(resources)

placed=0 full=0 cut=0
for cycle in $(seq "$cycles"); do
    if [ $((cycle % 3)) -eq 0 ]; then
        "$sim" --dir "$TOLVANE_UNIT_DIR" --info-file "$work/long.ini" >/dev/null 2>>"$work/sim.err" &
        sim_pid=$!
        placed=$((placed + 1))
        wait_count 'Connect device : ' "$out" "$placed"
        # The first data packet of this upload: its report starts with "UPLD".
        wait_count '<<55,50,4C,44,' "$out" $((cut + 1))
        kill -TERM "$sim_pid"
        wait "$sim_pid" || fail "quillmark-sim exit $?"
        sim_pid=
        cut=$((cut + 1))
    else
        "$sim" --dir "$TOLVANE_UNIT_DIR" >/dev/null 2>>"$work/sim.err" &
        sim_pid=$!
        placed=$((placed + 1))
        full=$((full + 1))
        wait_count 'status: Serial write end.' "$err" "$full"
        kill -TERM "$sim_pid"
        wait "$sim_pid" || fail "quillmark-sim exit $?"
        sim_pid=
    fi
    # One device change at the start, one for each placement and removal; then the unit is
    # given back and its reader gone.
    wait_count 'device change.' "$out" $((2 * cycle + 1))
    wait_idle
done

kill -INT "$cli_pid"
status=0
wait "$cli_pid" || status=$?
cli_pid=
trap - EXIT

begun=$(count 'Connect device : ' "$out")
if grep -aq '^result: ' "$err"; then
    ended=$(count '^result: ' "$err")
else
    # Without result lines: a session ends at a tick in state 99, which gives the unit back, or
    # with its unit's removal before that tick.
    ended=$(($(count '  99 status' "$out") + $(count 'Disconnect device.' "$out")))
fi
echo "place-remove: $cycles cycles ($cut in the middle of an upload): sessions begun $begun, ended $ended;" \
    "descriptors and threads at every idle point: $baseline; tolvane-cli exit $status"
[ "$begun" -eq "$cycles" ] && [ "$ended" -eq "$cycles" ] || fail "sessions not accounted for"
[ "$status" -eq 130 ] || fail "tolvane-cli exit $status after SIGINT, expected 130"
if grep -aE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:' "$err"; then
    fail "sanitizer report in $err"
fi
rm -rf "$work"
