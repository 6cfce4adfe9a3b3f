#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, two at a time: first its regression inputs,
# then fuzzing from its seed corpus (copied, so the repository's seeds stay as they are).
#   fuzz/run.sh BUILD_DIR [TARGET...]
# FUZZ_SECONDS (default 60) bounds each target; FUZZ_RUNS, when set, bounds its executions too.
# Exits non-zero when any target found a crash; its input is kept under BUILD_DIR/fuzz/artifacts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [TARGET...]}" && pwd)
shift
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for path in "$build"/fuzz/fuzz-*; do
        [ -x "$path" ] && targets+=("$(basename "$path" | sed 's/^fuzz-//')")
    done
fi
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets in $build/fuzz (configure with the clang preset)" >&2; exit 1; }

work="$build/fuzz/work"
mkdir -p "$work" "$build/fuzz/artifacts"

run_one() {
    local name=$1 binary="$build/fuzz/fuzz-$1" log="$work/$1.log"
    local corpus="$work/$1-corpus" dict=() runs=()
    mkdir -p "$corpus"
    cp -n "$here/corpus/$name"/* "$corpus"/ 2>/dev/null || true
    [ -f "$here/$name.dict" ] && dict=(-dict="$here/$name.dict")
    [ -f "$here/session.dict" ] && [ "$name" = upload ] && dict=(-dict="$here/session.dict")
    [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
    {
        if [ -d "$here/regressions/$name" ]; then
            "$binary" -runs=0 "$here/regressions/$name"/*
        fi
        "$binary" "${dict[@]}" "${runs[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$build/fuzz/artifacts/$name-" "$corpus"
    } >"$log" 2>&1
}

failed=0
pids=()
names=()
report() {
    local i=$1
    if wait "${pids[$i]}"; then
        echo "fuzz-${names[$i]}: $(grep -E '^#[0-9]+' "$work/${names[$i]}.log" | tail -1)"
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/${names[$i]}.log" | sed 's/^/    /'
    else
        echo "fuzz-${names[$i]}: FAILED, see $work/${names[$i]}.log" >&2
        grep -E 'ERROR|invariant broken|Test unit written' "$work/${names[$i]}.log" | head -5 >&2
        failed=1
    fi
}
for name in "${targets[@]}"; do
    names+=("$name")
    run_one "$name" &
    pids+=($!)
    if [ ${#pids[@]} -ge 2 ] && [ $(( ${#pids[@]} % 2 )) -eq 0 ]; then
        report $(( ${#pids[@]} - 2 ))
        report $(( ${#pids[@]} - 1 ))
    fi
done
if [ $(( ${#pids[@]} % 2 )) -eq 1 ]; then
    report $(( ${#pids[@]} - 1 ))
fi
exit $failed
