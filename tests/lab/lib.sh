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
start_unit() { start_sim uhid 20 "$@"; }

# start_usb_unit NAME ARG...: as start_unit, a USB gadget unit on the first free dummy_hcd port
# (the VM has three); the host enumerates it through usbhid.
start_usb_unit() { start_sim usb 60 "$@"; }

start_sim() {
  local transport=$1 limit=$2 name=$3; shift 3
  # Emulation is slow: a step may take seconds where it takes milliseconds on hardware.
  "$LAB_SIM" --transport "$transport" --step-timeout 120 "$@" >"$LAB_OUT/$name.out" 2>&1 </dev/null &
  local pid=$!
  printf -v "UNIT_PID_$name" %s $pid
  # Until it is placed, or has given up.
  wait_for "$limit" sh -c "grep -q '^placed' '$LAB_OUT/$name.out' || ! kill -0 $pid" || true
  if ! grep -q '^placed' "$LAB_OUT/$name.out"; then
    cat "$LAB_OUT/$name.out" >&2
    lab_fail "unit $name was not placed"
  fi
}

# unit_node NAME: the /dev/hidrawN of the unit's last "placed" line.
unit_node() { awk '$1 == "placed" { node = $3 } END { print node }' "$LAB_OUT/$1.out"; }

# usb_device_of /dev/hidrawN: the sysfs path of the USB device the node hangs from, through an
# interface bound to usbhid; fails for a node with no such parents.
usb_device_of() {
  local hid interface device
  hid=$(readlink -f "/sys/class/hidraw/${1#/dev/}/device") || return 1
  interface=${hid%/*} device=${hid%/*/*}
  [ "$(basename "$(readlink -f "$interface/driver")")" = usbhid ] || { echo "usb_device_of $1: $interface is not bound to usbhid" >&2; return 1; }
  grep -qx 'DEVTYPE=usb_device' "$device/uevent" 2>/dev/null || { echo "usb_device_of $1: $device is no USB device" >&2; return 1; }
  echo "$device"
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

# --- Station runs (tolvane-cli --station), shared by the Linux and the Windows build's phases.
# Each takes the tool's command (CMD...: tolvane-cli, or $WINE and tolvane-cli.exe). Every unit
# is placed before the first run and each run chooses its own with --device: under emulation,
# Wine's HID stack offers a unit placed after another was taken out late, at times never.

# The units' information file: its numbers differ from the units' own serial block, so that
# what a session writes is not what it read.
station_info=$LAB_TMP/RGINFO.INI

# station_place WHERE: places the reference unit (product Quillmark) and QA, QB, QC with the
# behaviour model, QX, QY, QZ with the scripts of station_removal. WHERE PRODUCT... prints
# "PRODUCT<TAB>SLOT<TAB>PATH" for each, the slot and interface path the tool should give that
# unit, and fails while it cannot; its lines go to $LAB_OUT/units.
station_place() {
  local where=$1 p
  printf '[RGINFO]\r\nmodel QM-2\r\nfw 1.0.05\r\nser QM0000077001\r\npcb P2301A000771\r\nbat B2210C000772\r\n' >"$station_info"
  printf 'expect VER\nsend OK 1.0.05\\r\\n\nawait %s\n' "$LAB_TMP/never" >"$LAB_TMP/QX.script"
  # The behaviour model's session step by step, held after VER.
  printf '%s\n' 'expect VER' "await $LAB_TMP/go" 'send OK 1.0.05\r\n' 'expect GSER' \
    'send OK P2301A000417 B2210C000388 QM0000012345\r\n' 'expect UPLS RGINFO.INI' "upload $station_info" \
    'expect SSER' 'send OK\r\n' "await $LAB_TMP/end" >"$LAB_TMP/held.script"
  start_unit ref --info-file "$station_info" --trace "$LAB_OUT/ref.trace"
  for p in QA QB QC; do start_unit "$p" --product "$p" --info-file "$station_info" --trace "$LAB_OUT/$p.trace"; done
  start_unit QX --product QX --script "$LAB_TMP/QX.script" --step-timeout 900 --trace "$LAB_OUT/QX.trace"
  for p in QY QZ; do
    start_unit "$p" --product "$p" --script "$LAB_TMP/held.script" --step-timeout 900 --trace "$LAB_OUT/$p.trace"
  done
  wait_for 180 station_where "$where" Quillmark QA QB QC QX QY QZ || lab_fail "not every unit is to be seen"
}
station_where() { "$1" "${@:2}" >"$LAB_OUT/units"; }

# station_unit PRODUCT slot|path
station_unit() {
  awk -F'\t' -v p="$1" -v f="$([ "$2" = slot ] && echo 2 || echo 3)" '$1 == p { print $f }' "$LAB_OUT/units"
}

# station_reference CMD...: a plain session of CMD with the reference unit, the session every
# station session is held to: $LAB_OUT/ref.log, ref.err, ref.trace.
station_reference() {
  local rc=0
  "$@" --device "$(station_unit Quillmark path)" --read-info yes --write-serial yes --timeout 600 </dev/null \
    >"$LAB_OUT/ref.log" 2>"$LAB_OUT/ref.err" || rc=$?
  sed -i 's/\r$//' "$LAB_OUT/ref.log" "$LAB_OUT/ref.err"
  [ $rc = 0 ] || lab_fail "the reference session exited $rc: $(tail -3 "$LAB_OUT/ref.err")"
}

# station_run NAME SESSIONS "PRODUCT..." CMD...: CMD --station --sessions SESSIONS with those
# units in the background (sets station_pid); $LAB_OUT/NAME.out, NAME.err, NAME.rec and the
# logs in NAME-logs/.
station_run() {
  local name=$1 sessions=$2 devices=() p
  for p in $3; do devices+=(--device "$(station_unit "$p" path)"); done
  shift 3
  mkdir -p "$LAB_OUT/$name-logs"
  "$@" --station "${devices[@]}" --read-info yes --write-serial yes --sessions "$sessions" --timeout 600 \
    --record "$LAB_OUT/$name.rec" --log-dir "$LAB_OUT/$name-logs" </dev/null >"$LAB_OUT/$name.out" 2>"$LAB_OUT/$name.err" &
  station_pid=$!
}

# station_wait NAME: waits for the run, its text with LF line ends; returns its exit status.
station_wait() {
  local rc=0
  wait "$station_pid" || rc=$?
  sed -i 's/\r$//' "$LAB_OUT/$1.out" "$LAB_OUT/$1.err"
  find "$LAB_OUT/$1-logs" -name '*.log' -exec sed -i 's/\r$//' {} +
  return $rc
}

# station_prefix PRODUCT: how the lines of that unit's session begin: "[SLOT] ", a backslash
# shown as \\.
station_prefix() {
  local slot
  slot=$(station_unit "$1" slot)
  printf '[%s] ' "${slot//\\/\\\\}"
}

# station_session_true NAME PRODUCT [drop-device-change]: the station run NAME's session with
# that unit ended ok, its log is the reference's (the product's name aside; "device change."
# lines dropped on both sides if asked), the unit saw the reference's reports, and its record
# line is true to them.
station_session_true() {
  local name=$1 product=$2 drop=${3:-} prefix file
  prefix=$(station_prefix "$product")
  grep -qxF "${prefix}result: ok" "$LAB_OUT/$name.err" || lab_fail "$product: no '${prefix}result: ok'"
  file=$(grep -F "${prefix}log: " "$LAB_OUT/$name.err" | sed 's/.*[\\/]//')
  [ -n "$file" ] && [ -f "$LAB_OUT/$name-logs/$file" ] || lab_fail "$product: no log file named by '${prefix}log: '"
  sed "s/Connect device : $product\$/Connect device : Quillmark/" "$LAB_OUT/$name-logs/$file" >"$LAB_TMP/$product.log"
  cp "$LAB_OUT/ref.log" "$LAB_TMP/ref.log"
  [ -z "$drop" ] || sed -i '/,  device change\.$/d' "$LAB_TMP/$product.log" "$LAB_TMP/ref.log"
  compare_logs "$LAB_TMP/ref.log" "$LAB_TMP/$product.log" || lab_fail "$product: the log differs from the reference's"
  diff <(mask_trace "$LAB_OUT/ref.trace") <(mask_trace "$LAB_OUT/$product.trace") >&2 ||
    lab_fail "$product: the reports differ from the reference's"
  record_true_to_trace "$LAB_OUT/$name.rec" "$product" "$LAB_OUT/$product.trace" "$(station_unit "$product" slot)" \
    "$(station_unit "$product" path)" || lab_fail "$product: the record is untrue"
  echo "$product: result: ok; slot $(station_unit "$product" slot), path $(station_unit "$product" path)"
}

# record_true_to_trace RECORD PRODUCT TRACE SLOT PATH: RECORD's one line for the unit of
# PRODUCT names SLOT and PATH, its serial block is the GSER answer's columns in TRACE, and the
# serial it says was written is what the SSER report carried.
record_true_to_trace() {
  python3 - "$@" <<'PY'
import json, sys
record, product, trace, slot, path = sys.argv[1:]
def fail(message):
    sys.exit(f"record_true_to_trace {product}: {message}")
lines = [line for line in map(json.loads, open(record, encoding="utf-8")) if line["device"]["product"] == product]
if len(lines) != 1:
    fail(f"{len(lines)} lines for the product")
line = lines[0]
# Each report's text: the report ID dropped, up to the first zero byte.
reports = []
for entry in open(trace):
    _, direction, data = entry.split()
    reports.append((direction, bytes.fromhex(data)[1:].split(b"\0")[0].decode("latin-1")))
sser = [text for direction, text in reports if direction == ">" and text.startswith("SSER ")]
written = line["written"]
sent = written and "SSER {pcb} {bat} {ser}".format(**written)
if len(sser) != 1 or sent != sser[0] or line["serialWritten"] is not True:
    fail(f"written {written}, serialWritten {line['serialWritten']}, the unit got {sser}")
gser = [k for k, report in enumerate(reports) if report == (">", "GSER")]
if len(gser) != 1 or gser[0] + 1 >= len(reports) or reports[gser[0] + 1][0] != "<":
    fail("no one GSER answer in the trace")
columns = reports[gser[0] + 1][1].replace("OK ", "")
block = {"pcb": columns[0:12].strip(), "bat": columns[13:25].strip(), "ser": columns[26:38].strip()}
if line["serialBlock"] != block:
    fail(f"serialBlock {line['serialBlock']}, the answer's columns {block}")
if line["slot"] != slot or line["device"]["path"] != path:
    fail(f"slot {line['slot']!r}, path {line['device']['path']!r}; the unit's are {slot!r}, {path!r}")
PY
}

# station_records_valid NAME: every line of the run's record is valid against the schema.
station_records_valid() {
  python3 -c 'import jsonschema' 2>/dev/null || lab_fail "python3 has no jsonschema to check the record with"
  python3 "$LAB_ROOT/tests/tools/check-record.py" "$LAB_ROOT/docs/record.schema.json" "$LAB_OUT/$1.rec" >&2 ||
    lab_fail "$1.rec does not follow the schema"
}

# station_all_served CMD...: QA, QB and QC served at once by one station run; each session as
# the reference's, its record true to its unit.
station_all_served() {
  local rc=0 p
  station_run all 3 "QA QB QC" "$@"
  station_wait all || rc=$?
  [ $rc = 0 ] || lab_fail "the station exited $rc: $(tail -5 "$LAB_OUT/all.err")"
  [ "$(grep -c '] result: ok$' "$LAB_OUT/all.err")" = 3 ] || lab_fail "not three 'result: ok': $(grep result: "$LAB_OUT/all.err")"
  station_records_valid all
  for p in QA QB QC; do station_session_true all "$p"; done
}

# station_removal CMD...: QX, QY and QZ in one station run; QX answers VER and then nothing,
# and is taken out while QY and QZ, held after VER by their gate, wait mid-session. QX's
# session fails unit-removed; QY's and QZ's, released, are the reference's.
station_removal() {
  local rc=0 p
  # A session cut short by a removal is not a finished one.
  station_run removal 2 "QX QY QZ" "$@"
  for p in QX QY QZ; do wait_for_line 300 "$LAB_OUT/$p.trace" ' > 00564552'; done
  wait_for_line 300 "$LAB_OUT/QX.trace" ' > 0047534552'
  stop_unit QX || true # a script cut short by the signal ends non-zero
  wait_for_line 300 "$LAB_OUT/removal.err" 'result: failed unit-removed'
  touch "$LAB_TMP/go"
  for p in QY QZ; do
    wait_for 120 grep -q ' > 0047534552' "$LAB_OUT/$p.trace" || lab_fail "$p's session stands still after QX was" \
      "taken out: no GSER in 120 s; the sessions' logs end: $(tail -n 3 "$LAB_OUT"/removal-logs/.*.part)"
  done
  station_wait removal || rc=$?
  touch "$LAB_TMP/end"
  for p in QY QZ; do wait_unit "$p" 60 || lab_fail "$p saw other reports than the reference's: $(tail -3 "$LAB_OUT/$p.out")"; done
  [ $rc = 4 ] || lab_fail "the station exited $rc, not 4 (a session failed): $(tail -5 "$LAB_OUT/removal.err")"
  [ "$(grep -c 'result: ' "$LAB_OUT/removal.err")" = 3 ] || lab_fail "other than three results: $(grep 'result: ' "$LAB_OUT/removal.err")"
  grep -qxF "$(station_prefix QX)result: failed unit-removed" "$LAB_OUT/removal.err" ||
    lab_fail "QX: $(grep -F "$(station_prefix QX)result" "$LAB_OUT/removal.err")"
  echo "QX: result: failed unit-removed; slot $(station_unit QX slot), path $(station_unit QX path)"
  station_records_valid removal
  for p in QY QZ; do station_session_true removal "$p" drop-device-change; done
}

# station_stop: the units left; the reference's and QA's to QC's behaviour models end cleanly.
station_stop() {
  local p
  for p in ref QA QB QC; do stop_unit "$p" || lab_fail "unit $p did not end cleanly: $(tail -3 "$LAB_OUT/$p.out")"; done
}

# socket_session NAME INFO: the Linux build's whole session (both answers yes) against a socket
# unit that uploads INFO, the session a kernel device's is held to: $LAB_OUT/NAME.log, NAME.err
# and the unit's NAME.trace.
socket_session() {
  local name=$1 info=$2 units=$LAB_TMP/$1-units pid rc=0
  mkdir -p -m 700 "$units"
  "$LAB_SIM" --dir "$units" --name sock --step-timeout 120 --info-file "$info" --trace "$LAB_OUT/$name.trace" \
    >"$LAB_OUT/$name-unit.out" 2>&1 </dev/null &
  pid=$!
  wait_for_line 20 "$LAB_OUT/$name-unit.out" '^placed'
  TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units "$LAB_LINUX_BUILD/src/ui/console/tolvane-cli" \
    --read-info yes --write-serial yes --timeout 240 >"$LAB_OUT/$name.log" 2>"$LAB_OUT/$name.err" </dev/null || rc=$?
  kill -TERM $pid
  wait $pid || true
  [ $rc = 0 ] || lab_fail "the session against the socket unit exited $rc: $(tail -5 "$LAB_OUT/$name.err")"
}

# same_session REFERENCE NAME: NAME's session is REFERENCE's: the same activity log, the same
# reports at its unit (NAME.trace), the same status, identity and confirmation lines, and it
# reached the serial write's end.
same_session() {
  local ref=$LAB_OUT/$1 run=$LAB_OUT/$2
  compare_logs "$ref.log" "$run.log" || lab_fail "the activity logs differ"
  diff <(mask_trace "$ref.trace") <(mask_trace "$run.trace") >"$run.trace-diff" ||
    { head -20 "$run.trace-diff" >&2; lab_fail "the units saw different reports"; }
  diff <(grep -v '^result: ' "$ref.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') \
    <(grep -v '^result: ' "$run.err" | sed 's/[0-9][0-9]:[0-9][0-9]:[0-9][0-9]/TT/g') >&2 ||
    lab_fail "the status, identity and confirmation lines differ"
  grep -q '^status: Serial write end\.$' "$run.err" || lab_fail "no 'Serial write end.' in $2.err"
}

# replug_script FILE: a unit taken out while the tool waits for the GSER answer (after its
# state line is written, so every log agrees), half a second out of the cradle, as a hand would
# take it, then a whole session.
replug_script() {
  printf '%s\n' 'expect VER' 'send OK 1.0.05\r\n' 'expect GSER' 'quiet 300' 'unplug' 'sleep 500' 'plug' \
    'expect VER' 'send OK 1.0.05\r\n' 'expect GSER' 'send OK P2301A000417 B2210C000388 QM0000012345\r\n' \
    'quiet 300' >"$1"
}

# replug_run NAME: tolvane-cli's run through the replug: $LAB_OUT/NAME.log, NAME.err, NAME.rc.
# The session cut by the removal fails (unit-removed), so the run exits 4 with any source.
replug_run() {
  local rc=0
  "$LAB_LINUX_BUILD/src/ui/console/tolvane-cli" --read-info no --sessions 1 --timeout 60 </dev/null \
    >"$LAB_OUT/$1.log" 2>"$LAB_OUT/$1.err" || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 4 ] || lab_fail "tolvane-cli ($1) exited $rc: $(tail -5 "$LAB_OUT/$1.err")"
  echo "$rc" >"$LAB_OUT/$1.rc"
}

# replug_as_socket NAME SCRIPT: the replug SCRIPT against a socket unit (run "socket"), and
# NAME's run held to it: a disconnect, a second connect, the same exit, lines and log.
replug_as_socket() {
  local units=$LAB_TMP/replug-units pid rc=0
  mkdir -p -m 700 "$units"
  "$LAB_SIM" --dir "$units" --name sock --script "$2" >"$LAB_OUT/sock.out" 2>&1 </dev/null &
  pid=$!
  wait_for 10 test -S "$units/sock.sock"
  TOLVANE_DEVICE_SOURCES=virtual TOLVANE_UNIT_DIR=$units replug_run socket
  wait $pid || rc=$?
  [ "$rc" = 0 ] || lab_fail "the socket unit's script failed ($rc)"
  grep -q 'Disconnect device\.' "$LAB_OUT/$1.log" || lab_fail "no disconnect ($1)"
  [ "$(grep -c 'Connect device : Quillmark' "$LAB_OUT/$1.log")" = 2 ] || lab_fail "no second connect ($1)"
  cmp -s "$LAB_OUT/socket.rc" "$LAB_OUT/$1.rc" ||
    lab_fail "exit $(cat "$LAB_OUT/$1.rc") ($1), $(cat "$LAB_OUT/socket.rc") with sockets"
  diff "$LAB_OUT/socket.err" "$LAB_OUT/$1.err" >&2 || lab_fail "status, identity, confirmation and result lines differ"
  compare_logs "$LAB_OUT/socket.log" "$LAB_OUT/$1.log" || lab_fail "the activity logs differ"
}
