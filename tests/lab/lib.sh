# Helpers for the lab's phases (tests/lab/phases/NN-name.sh); see tests/lab/README.md.
# Sourced by a phase inside the VM; the runner sets LAB_* and the Wine variables.

: "${LAB_ROOT:?run phases through tests/lab/run-phases.sh}"
LAB_SIM=${LAB_SIM:-$LAB_LINUX_BUILD/src/sim/quillmark-sim}
lab_started=$(date +%s.%N)

lab_fail() { echo "FAIL: $*" >&2; exit 1; }
lab_skip() { echo "SKIP: $*"; exit 77; }
lab_step() { awk -v a="$lab_started" -v b="$(date +%s.%N)" -v m="$*" 'BEGIN { printf ".. %6.1f s  %s\n", b - a, m }'; }

# wait_for TIMEOUT CMD...: runs CMD every 0.1 s until it succeeds.
wait_for() {
  local limit=$1; shift
  local end=$(($(date +%s%N) + ${limit%.*} * 1000000000))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s%N)" -lt "$end" ] || { echo "wait_for: '$*' did not succeed within $limit s" >&2; return 1; }
    sleep 0.1
  done
}

# wait_for_line TIMEOUT FILE REGEX
wait_for_line() {
  wait_for "$1" grep -qE -- "$3" "$2" || lab_fail "no line matching '$3' in $2 within $1 s"
}

# start_unit NAME ARG...: a uhid unit in the background; output in $LAB_OUT/NAME.out.
start_unit() {
  local name=$1; shift
  # Emulation is slow: a step may take seconds where it takes milliseconds on hardware.
  "$LAB_SIM" --transport uhid --step-timeout 120 "$@" >"$LAB_OUT/$name.out" 2>&1 </dev/null &
  printf -v "UNIT_PID_$name" %s $!
  wait_for 20 grep -q '^placed' "$LAB_OUT/$name.out" ||
    { cat "$LAB_OUT/$name.out" >&2; lab_fail "unit $name was not placed"; }
}

# stop_unit NAME: SIGTERM, then its exit status.
stop_unit() {
  local var="UNIT_PID_$1" rc=0
  [ -n "${!var:-}" ] || return 0
  kill -TERM "${!var}" 2>/dev/null || true
  wait "${!var}" || rc=$?
  printf -v "$var" %s ''
  return $rc
}

# wait_unit NAME TIMEOUT: waits for a unit to end by itself (a script run to its end).
wait_unit() {
  local var="UNIT_PID_$1" rc=0
  wait_for "$2" sh -c "! kill -0 ${!var} 2>/dev/null" || { stop_unit "$1" || true; lab_fail "unit $1 did not end within $2 s"; }
  wait "${!var}" || rc=$?
  printf -v "$var" %s ''
  return $rc
}

# wine_run ARG...: a Windows program under Wine, CR LF turned into LF (its stderr comes when
# it has ended).
wine_run() {
  local err rc
  err=$(mktemp)
  "$WINE" "$@" </dev/null 2>"$err" | tr -d '\r'
  rc=${PIPESTATUS[0]}
  tr -d '\r' <"$err" >&2
  rm -f "$err"
  return "$rc"
}

# mask_log FILE: the activity log with its time stamps masked: each line's own, and the
# upload's, which the unit takes from its clock (UPLS's time word, UPLI's text, the verify line).
mask_log() {
  sed -E 's/^[0-9]{2}.[0-9]{2}.[0-9]{2} [0-9]{2}.[0-9]{2}.[0-9]{2} [0-9]{3},/TT,/
          s/^(TT,<<55,50,4C,53,(..,){4})(..,){4}/\1TT,TT,TT,TT,/
          s/-UPLS(.{4}).{4}/-UPLS\1TTTT/
          s/^(TT,<<55,50,4C,49,(..,){4})(..,){19}/\1TT(19),/
          s/-UPLI(.{4}).{19}/-UPLI\1TT(19)/
          s/timeStamp:[0-9]{4}.[0-9]{2}.[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}/timeStamp:TT/' "$1" | grep '^TT,'
}

# mask_trace FILE: a unit's --trace as "DIR HEX", the upload's time stamps masked likewise.
mask_trace() {
  cut -d' ' -f2- "$1" | sed -E 's/^(< 0055504c53.{8}).{8}/\1TTTTTTTT/; s/^(< 0055504c49.{8}).{38}/\1TT(19)/'
}

# compare_logs LINUX WINDOWS: the same lines in the same order, the "%d status" lines the same
# sequence; a status line is written at the next tick, so it may stand on the other side of
# one adjacent report line (">>" or "<<").
compare_logs() {
  local a b
  a=$(mktemp) b=$(mktemp)
  mask_log "$1" >"$a"
  mask_log "$2" >"$b"
  awk '
    function load(file, side,   line, n, s) {
      n = 0; s = 0
      while ((getline line < file) > 0) {
        if (line ~ /^TT,   *-?[0-9]+ status$/) { s++; S[side, s] = line; P[side, s] = n }
        else { n++; N[side, n] = line }
      }
      NN[side] = n; NS[side] = s
    }
    BEGIN {
      load(ARGV[1], 1); load(ARGV[2], 2); bad = 0
      if (NN[1] != NN[2]) { printf "compare_logs: %d log lines against %d\n", NN[1], NN[2]; bad = 1 }
      for (i = 1; i <= NN[1] && i <= NN[2]; i++)
        if (N[1, i] != N[2, i]) { printf "compare_logs: line %d differs:\n  %s\n  %s\n", i, N[1, i], N[2, i]; bad = 1; break }
      if (NS[1] != NS[2]) { printf "compare_logs: %d status lines against %d\n", NS[1], NS[2]; bad = 1 }
      for (k = 1; k <= NS[1] && k <= NS[2]; k++) {
        if (S[1, k] != S[2, k]) { printf "compare_logs: status line %d: %s against %s\n", k, S[1, k], S[2, k]; bad = 1; break }
        d = P[1, k] - P[2, k]
        if (d == 0) continue
        crossed = N[1, (d > 0 ? P[2, k] : P[1, k]) + 1]
        if ((d == 1 || d == -1) && crossed ~ /^TT,(>>|<<)/) continue
        printf "compare_logs: status line %d (%s) after log line %d against %d\n", k, S[1, k], P[1, k], P[2, k]; bad = 1
      }
      exit bad
    }' "$a" "$b"
  local rc=$?
  [ $rc -eq 0 ] || diff -u "$a" "$b" | head -60
  rm -f "$a" "$b"
  return $rc
}

# hidraw_for NAME: the /dev/hidrawN whose HID_NAME is NAME.
hidraw_for() {
  local d
  for d in /sys/class/hidraw/hidraw*; do
    grep -qx "HID_NAME=$1" "$d/device/uevent" 2>/dev/null && { echo "/dev/${d##*/}"; return 0; }
  done
  return 1
}

# exchange_times TRACE: from each input report to the next output report, in ms.
exchange_times() {
  awk '$2 == "<" { t = $1 } $2 == ">" && t != "" { printf "%.3f\n", ($1 - t) * 1000; t = "" }' "$1" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) { print "no exchanges"; exit }
           p = int(NR * 0.99 + 0.999); if (p > NR) p = NR
           printf "n=%d median=%.2f ms p99=%.2f ms max=%.2f ms\n", NR, v[int((NR + 1) / 2)], v[p], v[NR] }'
}

# show_wine_devices: what Wine's HID stack offers now (tolvane-cli.exe --list) and its driver
# hosts (winebus runs in one), to tell a device Wine never offered from one the tool missed.
show_wine_devices() {
  echo "devices Wine offers (tolvane-cli.exe --list):"
  timeout 120 "$WINE" "$LAB_WINDOWS_BUILD/src/ui/console/tolvane-cli.exe" --list </dev/null 2>&1 | tr -d '\r'
  echo "Wine's driver hosts:"
  ps -eo pid,etime,args | grep -E '[w]inedevice|[p]lugplay'
}

# claim_turns NAME CMD...: one uhid unit NAME (a shell name) and three runs of CMD (a
# tolvane-cli with its device-source setting) against it, one at a time: the first holds the
# unit until its gate opens, the second waits meanwhile, says the unit is in use and takes it
# when the first ends; the third waits likewise and takes it when the second is killed
# (SIGKILL). The unit's script fails on any command out of turn, so two runs driving it at
# once fail the phase.
claim_turns() {
  local name=$1; shift
  local out=$LAB_OUT/$name answer='send OK 1.0.05\r\n
expect GSER
send OK P1           B1           S1\r\n'
  printf 'expect VER\nawait %s\n%s\nexpect VER\nexpect VER\n%s\nawait %s\n' "$LAB_TMP/$name-go" "$answer" "$answer" \
    "$LAB_TMP/$name-done" >"$LAB_TMP/$name.script"
  start_unit "$name" --script "$LAB_TMP/$name.script" --trace "$out.trace"
  # run N: tolvane-cli in the background, its output straight to files; sets run_pid.
  run() { "$@" --timeout 600 </dev/null >"$out-$run_no.log" 2>"$out-$run_no.err" & run_pid=$!; }
  # waits until run N says the unit is in use, having sent it nothing.
  told_in_use() {
    wait_for_line 180 "$out-$1.err" 'is in use by another process'
    ! grep -q '>>VER' "$out-$1.log" || lab_fail "run $1 spoke to a unit another run holds"
  }
  local run_no run_pid first second third

  run_no=1; run "$@"; first=$run_pid
  wait_for_line 180 "$out-1.log" '>>VER'
  run_no=2; run "$@"; second=$run_pid
  told_in_use 2
  "$@" --list </dev/null >"$out-list.out" 2>&1
  grep -q "$(printf '\tin use')" "$out-list.out" || lab_fail "--list does not mark the unit in use: $(cat "$out-list.out")"
  touch "$LAB_TMP/$name-go"
  wait "$first" || lab_fail "run 1 exited $?: $(tail -3 "$out-1.err")"
  wait_for_line 180 "$out-2.log" '>>VER'

  run_no=3; run "$@"; third=$run_pid
  told_in_use 3
  kill -KILL "$second"
  wait "$second" 2>/dev/null || true
  wait "$third" || lab_fail "run 3 exited $?: $(tail -3 "$out-3.err")"
  touch "$LAB_TMP/$name-done"

  wait_unit "$name" 60 || lab_fail "the unit saw commands out of turn: $(tail -3 "$LAB_OUT/$name.out")"
  for run_no in 1 3; do
    tr -d '\r' <"$out-$run_no.err" | grep -qx 'result: ok' || lab_fail "run $run_no: $(tail -3 "$out-$run_no.err")"
  done
  for run_no in 2 3; do
    [ "$(grep -c 'is in use by another process' "$out-$run_no.err")" = 1 ] || lab_fail "run $run_no said in use other than once"
  done
  [ "$(grep -c ' > 00564552' "$out.trace")" = 3 ] || lab_fail "the unit got other than three VER commands"
}
