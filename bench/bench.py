#!/usr/bin/env python3
"""make bench: the tool against quillmark-sim, beside the raw transport measured in the same run.

Prints one Markdown table. Exchange times come from quillmark-sim's --trace: an input report
('<') to the next output report ('>'), so the raw client and both front ends are timed by the
same clock at the same place. The benchmark reports figures; it never fails on a timing.

    bench/bench.py BUILD_DIR [--idle SECONDS] [--repeat N] [--only rescan|station]
"""

import argparse
import os
import platform
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


class Programs:
    def __init__(self, build):
        self.cli = os.path.join(build, "src/ui/console/tolvane-cli")
        self.sim = os.path.join(build, "src/sim/quillmark-sim")
        self.raw = os.path.join(build, "bench/bench-raw-client")
        self.window = os.path.join(build, "bench/bench-window")
        self.rescan = os.path.join(build, "bench/bench-rescan")
        for path in (self.cli, self.sim, self.raw, self.window, self.rescan):
            if not os.access(path, os.X_OK):
                sys.exit(f"bench: {path} is missing; build the release preset first")


class Lines:
    """Reads a pipe on a thread of its own, stamping each line with the monotonic clock."""

    def __init__(self, pipe):
        self.lines = []
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self.thread.start()

    def _read(self, pipe):
        for raw in iter(pipe.readline, b""):
            with self.changed:
                self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\n")))
                self.changed.notify_all()
        with self.changed:
            self.lines.append((time.monotonic(), None))
            self.changed.notify_all()

    def wait_for(self, predicate, timeout=60.0):
        """The stamp of the first line for which predicate holds, or None."""
        deadline = time.monotonic() + timeout
        with self.changed:
            seen = 0
            while True:
                for stamp, line in self.lines[seen:]:
                    if line is not None and predicate(line):
                        return stamp
                seen = len(self.lines)
                if self.lines and self.lines[-1][1] is None:
                    return None
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)


class Sim:
    def __init__(self, programs, units, trace=None, count=1, info_file=None):
        args = [programs.sim, "--dir", units, "--name", "bench"]
        if count > 1:
            args += ["--count", str(count)]
        if info_file:
            args += ["--info-file", info_file]
        if trace:
            args += ["--trace", trace]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.out = Lines(self.process.stdout)
        placed = []

        def all_placed(line):
            if line.startswith("placed "):
                placed.append(line)
            return len(placed) >= count

        self.placed = self.out.wait_for(all_placed)
        if self.placed is None:
            raise RuntimeError("quillmark-sim did not place its units")
        names = ["bench"] if count == 1 else [f"bench-{index}" for index in range(1, count + 1)]
        self.sockets = [os.path.join(units, f"{name}.sock") for name in names]
        self.socket = self.sockets[0]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)


def run_child(args, env, timeout=120, drive=None, poll=0.001):
    """Runs to the end; gives (wall seconds, CPU seconds, peak RSS KiB, exit code, stderr).
    drive, if given, runs on a thread of its own with the child and its stderr while it runs;
    poll is the pause between two looks at the child's memory."""
    started = time.monotonic()
    process = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = Lines(process.stderr)
    driver = threading.Thread(target=drive, args=(process, err), daemon=True) if drive else None
    if driver:
        driver.start()
    deadline = started + timeout
    peak = 0
    while True:
        # The child's own high-water mark: its rusage would count the fork of this script.
        peak = max(peak, high_water(process.pid))
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            process.kill()
            pid, status, usage = os.wait4(process.pid, 0)
            break
        time.sleep(poll)
    wall = time.monotonic() - started
    err.thread.join(timeout=5)
    if driver:
        driver.join(timeout=60)
    process.returncode = os.waitstatus_to_exitcode(status)
    return wall, (usage.ru_utime, usage.ru_stime), peak, process.returncode, err


def high_water(pid):
    """VmHWM of a live process in KiB, 0 once it has gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def thread_cpu(pid):
    """On-CPU seconds of a live process's threads other than its main one, to the nanosecond
    (/proc's ticks are 10 ms). quillmark-sim serves each unit on such a thread, started after
    placing, so this is the CPU of serving alone."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        if task != str(pid):
            try:
                with open(f"/proc/{pid}/task/{task}/schedstat") as schedstat:
                    total += int(schedstat.read().split()[0])
            except FileNotFoundError:
                pass
    return total / 1e9


def read_trace(path):
    reports = []
    with open(path) as trace:
        for line in trace:
            fields = line.split()
            if len(fields) == 3:
                reports.append((float(fields[0]), fields[1], fields[2]))
    return reports


def exchanges(reports):
    """Seconds from each input report to the output report that follows it."""
    times = []
    last_in = None
    for stamp, direction, _ in reports:
        if direction == "<":
            last_in = stamp
        elif last_in is not None:
            times.append(stamp - last_in)
            last_in = None
    return times


UPLS_OUT = "00" + b"UPLS".hex()
UPLE_REPLY = "00" + b"UPLR".hex() + "03100000"


def upload_time(reports):
    """From the UPLS command to the reply to the end packet."""
    start = next((s for s, d, h in reports if d == ">" and h.startswith(UPLS_OUT)), None)
    end = next((s for s, d, h in reports if d == ">" and h.startswith(UPLE_REPLY)), None)
    return end - start if start is not None and end is not None else None


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def info_file(directory, size):
    path = os.path.join(directory, f"RGINFO-{size}.INI")
    head = b"ser QM0000000001\r\npcb P23000000001\r\nbat B00000000001\r\n"
    filler = b"; filler line of the benchmark file\r\n"
    body = head + filler * ((size - len(head)) // len(filler) + 1)
    with open(path, "wb") as out:
        out.write(body[:size])
    return path


# The serial write the tool makes from the numbers at the head of info_file's file.
SERIAL_WRITE = "SSER P23000000001 B00000000001 QM0000000001"


def round_rate(trace, count):
    """Sessions per second of one round: its units over the span from its first report to its last."""
    reports = read_trace(trace)
    return count / (reports[-1][0] - reports[0][0]) if len(reports) > 1 else None


def dead_sockets(directory, count):
    """Socket files nobody listens on, as killed units leave them."""
    for index in range(count):
        dead = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        dead.bind(os.path.join(directory, f"dead-{index:05d}.sock"))
        dead.close()


class Churn:
    """A socket file created and deleted `rate` times a second in the unit directory."""

    def __init__(self, directory, rate=80):
        self.path = os.path.join(directory, "churn.sock")
        self.half = 0.5 / rate
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        due = time.monotonic()
        while not self.stopped.is_set():
            flicker = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            flicker.bind(self.path)
            flicker.close()
            due += self.half
            self.stopped.wait(max(0.0, due - time.monotonic()))
            os.unlink(self.path)
            due += self.half
            self.stopped.wait(max(0.0, due - time.monotonic()))

    def stop(self):
        self.stopped.set()
        self.thread.join()


VER_OUT = "00" + b"VER".hex()


def first_ver(trace):
    """The stamp (CLOCK_REALTIME) of the first VER the unit received, or None."""
    return next((s for s, d, h in read_trace(trace) if d == ">" and h.startswith(VER_OUT)), None)


def proc_sample(pid):
    """(CPU seconds, context switches of every thread) of a running process."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / CLK_TCK
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                for line in status:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
        except FileNotFoundError:
            pass
    return cpu, switches


def idle(pid, seconds):
    cpu0, sw0 = proc_sample(pid)
    time.sleep(seconds)
    cpu1, sw1 = proc_sample(pid)
    return (cpu1 - cpu0) / seconds * 100.0, (sw1 - sw0) / seconds


class Bench:
    def __init__(self, programs, scratch, args):
        self.p = programs
        self.scratch = scratch
        self.args = args
        self.serial = 0

    def fresh_units(self):
        self.serial += 1
        units = os.path.join(self.scratch, f"units-{self.serial}")
        os.mkdir(units, 0o700)
        return units

    def env(self, units):
        env = dict(os.environ, TOLVANE_UNIT_DIR=units, QT_QPA_PLATFORM="offscreen")
        return env

    def trace_path(self):
        self.serial += 1
        return os.path.join(self.scratch, f"trace-{self.serial}.txt")

    # The floor.
    def raw_ver(self, count):
        units, trace = self.fresh_units(), self.trace_path()
        sim = Sim(self.p, units, trace)
        subprocess.run([self.p.raw, sim.socket, "ver", str(count)], check=True)
        sim.stop()
        return exchanges(read_trace(trace))

    def raw_upload(self, size):
        units, trace = self.fresh_units(), self.trace_path()
        sim = Sim(self.p, units, trace, info_file=info_file(self.scratch, size))
        subprocess.run([self.p.raw, sim.socket, "upload"], check=True)
        sim.stop()
        reports = read_trace(trace)
        return exchanges(reports), upload_time(reports)

    # One whole session of a front end: the unit is placed first, the tool finds it at start.
    def session(self, front, size):
        units, trace = self.fresh_units(), self.trace_path()
        sim = Sim(self.p, units, trace, info_file=info_file(self.scratch, size) if size else None)
        if front == "cli":
            args = [self.p.cli, "--read-info", "yes", "--write-serial", "yes", "--sessions", "1", "--timeout", "120"]
        else:
            args = [self.p.window, "1"]
        wall, cpu, rss, code, _ = run_child(args, self.env(units))
        sim.stop()
        reports = read_trace(trace)
        return {"ok": code == 0, "exchanges": exchanges(reports), "upload": upload_time(reports), "rss": rss,
                "cpu": cpu, "reports": len(reports)}

    # Unit placed while the tool waits: to "Serial write end." and to the end of the process.
    def session_latency(self):
        units = self.fresh_units()
        args = [self.p.cli, "--read-info", "yes", "--write-serial", "yes", "--sessions", "1", "--timeout", "60"]
        tool = subprocess.Popen(args, env=self.env(units), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = Lines(tool.stdout), Lines(tool.stderr)
        out.wait_for(lambda line: line.endswith("device change."))
        time.sleep(0.2)
        sim = Sim(self.p, units)
        ended = err.wait_for(lambda line: line == "status: Serial write end.")
        deadline = time.monotonic() + 60
        while tool.poll() is None and time.monotonic() < deadline:
            time.sleep(0.0002)
        exited = time.monotonic()
        if tool.poll() is None:
            tool.kill()
            tool.wait()
        sim.stop()
        if ended is None:
            return None, None
        return ended - sim.placed, exited - sim.placed

    # A station serving `count` units at once, `rounds` times: each round places the units while
    # the tool waits and takes them out once all their sessions have ended, so each unit is served
    # again by the same process (a station's steady state, not its start-up). Gives each round's
    # rate, CPU per session (the whole process over all sessions), peak RSS and the simulator's CPU.
    def station(self, count, rounds):
        units, payload = self.fresh_units(), info_file(self.scratch, 64 * 1024)
        traces, served = [], {"sim": 0.0, "ok": True}

        def drive(tool, err):
            time.sleep(0.5)  # until the tool watches the unit directory; no line says so
            try:
                for done in range(count, count * rounds + 1, count):
                    trace = self.trace_path()
                    sim = Sim(self.p, units, trace, count=count, info_file=payload)
                    results = []

                    def finished(line):
                        if "] result: " in line:
                            results.append(line.endswith("] result: ok"))
                        return len(results) >= done

                    ended = err.wait_for(finished, timeout=60)
                    served["sim"] += thread_cpu(sim.process.pid)
                    sim.stop()
                    traces.append(trace)
                    if ended is None or not all(results):
                        break
                else:
                    return
            except (OSError, RuntimeError):
                pass
            served["ok"] = False
            if tool.poll() is None:
                tool.send_signal(signal.SIGTERM)

        args = [self.p.cli, "--station", "--read-info", "yes", "--write-serial", "yes",
                "--sessions", str(count * rounds), "--timeout", "600"]
        # A slower look at its memory: the bench shares the two cores, and the high-water mark keeps.
        _, cpu, rss, code, _ = run_child(args, self.env(units), timeout=660, drive=drive, poll=0.05)
        sessions = count * rounds
        return {"ok": served["ok"] and code == 0, "rates": [r for r in (round_rate(t, count) for t in traces) if r],
                "cpu": sum(cpu) / sessions, "sim": served["sim"] / sessions, "rss": rss}

    # The floor of the same rounds: a raw client per unit (threads of one process, so all start
    # together) running the whole exchange of a session at once; CPU of those threads and of the
    # simulator's over the exchanges.
    def raw_station(self, count, rounds):
        units, payload = self.fresh_units(), info_file(self.scratch, 64 * 1024)
        rates, cpu = [], 0.0
        for _ in range(rounds):
            trace = self.trace_path()
            sim = Sim(self.p, units, trace, count=count, info_file=payload)
            # The unit threads' own start, before any connection: not the exchanges' cost.
            while len(os.listdir(f"/proc/{sim.process.pid}/task")) <= count:
                time.sleep(0.001)
            time.sleep(0.02)
            idle = thread_cpu(sim.process.pid)
            client = subprocess.run([self.p.raw, "session", SERIAL_WRITE, *sim.sockets], check=True,
                                    stdout=subprocess.PIPE, text=True)
            cpu += float(client.stdout.split()[1]) + thread_cpu(sim.process.pid) - idle
            sim.stop()
            rates.append(round_rate(trace, count))
        return {"rates": rates, "cpu": cpu / (count * rounds)}

    def rescan(self, count):
        units = self.fresh_units()
        sim = Sim(self.p, units, count=count)
        walls, cpus = [], []
        for _ in range(self.args.repeat):
            wall, cpu, _, code, _ = run_child([self.p.cli, "--list"], self.env(units))
            if code == 0:
                walls.append(wall)
                cpus.append(sum(cpu))
        sim.stop()
        return statistics.median(walls), statistics.median(cpus)

    # Unit placed while the tool waits among dead sockets and a flickering one: to its first VER.
    # The raw client, started at the placement, gives the floor.
    def placement_under_churn(self, dead):
        units = self.fresh_units()
        dead_sockets(units, dead)
        churn = Churn(units)
        # The trace's stamps are CLOCK_REALTIME; the placement is seen on the monotonic clock.
        offset = time.time() - time.monotonic()
        tool_times, raw_times = [], []
        try:
            for _ in range(self.args.repeat):
                args = [self.p.cli, "--sessions", "1", "--timeout", "40"]
                tool = subprocess.Popen(args, env=self.env(units), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                out = Lines(tool.stdout)
                out.wait_for(lambda line: line.endswith("device change."))
                time.sleep(1.0)
                trace = self.trace_path()
                sim = Sim(self.p, units, trace)
                deadline = time.monotonic() + 30
                while tool.poll() is None and time.monotonic() < deadline:
                    time.sleep(0.01)
                if tool.poll() is None:
                    tool.kill()
                tool.wait()
                sim.stop()
                ver = first_ver(trace)
                tool_times.append(None if ver is None else ver - (sim.placed + offset))

                trace = self.trace_path()
                sim = Sim(self.p, units, trace)
                subprocess.run([self.p.raw, sim.socket, "ver", "1"], check=True)
                sim.stop()
                raw_times.append(first_ver(trace) - (sim.placed + offset))
        finally:
            churn.stop()
        return raw_times, tool_times

    def rescan_cpu(self, dead):
        units = self.fresh_units()
        dead_sockets(units, dead)
        result = subprocess.run([self.p.rescan, str(max(self.args.repeat, 11))], env=self.env(units),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True, text=True)
        figures = dict(line.split() for line in result.stdout.splitlines())
        return float(figures["floor-us"]) / 1e6, float(figures["rescan-us"]) / 1e6

    def idle_states(self, front):
        results = {}
        units = self.fresh_units()
        args = [self.p.cli, "--sessions", "0"] if front == "cli" else [self.p.window, "0"]
        tool = subprocess.Popen(args, env=self.env(units), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = Lines(tool.stdout)
        time.sleep(1.0)
        results[0] = idle(tool.pid, self.args.idle)
        trace = self.trace_path()
        sim = Sim(self.p, units, trace)
        # Finished when the unit has had its SSER (window) or the tool logged state 99.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if front == "cli" and any(line and line.endswith("99 status") for _, line in out.lines):
                break
            if front == "window" and any(d == ">" and h.startswith("00" + b"SSER".hex()) for _, d, h in read_trace(trace)):
                break
            time.sleep(0.05)
        time.sleep(1.0)
        results[99] = idle(tool.pid, self.args.idle)
        tool.send_signal(signal.SIGTERM)
        tool.wait(timeout=30)
        sim.stop()
        return results


def ms(seconds):
    return "-" if seconds is None else f"{seconds * 1000:.2f} ms"


def us(seconds):
    return "-" if seconds is None else f"{seconds * 1e6:.1f} us"


def machine():
    model = "?"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{platform.node()}: {model}, {os.cpu_count()} cores, Linux {platform.release()}"


def session_rows(bench, args, rows):
    """The rows of sessions, rescans by --list, idle states and memory; gives the exchanges timed
    and the front ends whose sessions did not end as expected."""
    raw_ex = bench.raw_ver(2000)
    raw_ups = {size: [bench.raw_upload(size) for _ in range(args.repeat if size < 2**20 else 1)]
               for size in (64 * 1024, 2**20)}
    raw_p50 = statistics.median(raw_ex)
    raw_p99 = percentile(raw_ex, 0.99)

    fronts = {}
    for front in ("cli", "window"):
        small = [bench.session(front, 64 * 1024) for _ in range(args.repeat)]
        large = bench.session(front, 2**20)
        every = [x for run in small + [large] for x in run["exchanges"]]
        fronts[front] = {"small": small, "large": large, "exchanges": every,
                         "ok": all(run["ok"] for run in small + [large])}

    def exchange_cell(times):
        p50, p99 = statistics.median(times), percentile(times, 0.99)
        return f"{us(p50)} / {us(p99)} ({p50 / raw_p50:.1f}x / {(p99 - raw_p99) * 1e3:+.3f} ms)"

    rows.append(("one exchange, p50 / p99 (ratio to raw p50 / excess over raw p99)",
                 f"{us(raw_p50)} / {us(raw_p99)}",
                 exchange_cell(fronts["cli"]["exchanges"]), exchange_cell(fronts["window"]["exchanges"])))

    def upload_cell(runs):
        times = [run["upload"] for run in runs if run["upload"] is not None]
        return ms(statistics.median(times)) if times else "failed"

    rows.append(("64 KiB upload (66 packets), median", upload_cell([{"upload": u} for _, u in raw_ups[64 * 1024]]),
                 upload_cell(fronts["cli"]["small"]), upload_cell(fronts["window"]["small"])))
    rows.append(("1 MiB upload (1033 packets)", upload_cell([{"upload": u} for _, u in raw_ups[2**20]]),
                 upload_cell([fronts["cli"]["large"]]), upload_cell([fronts["window"]["large"]])))

    def cpu_cell(front):
        # The 1 MiB session less a 64 KiB one: the CPU of its extra exchanges alone.
        large = fronts[front]["large"]
        extra = len(large["exchanges"]) - statistics.median(len(run["exchanges"]) for run in fronts[front]["small"])
        if extra <= 0:
            return "-"
        spent = []
        for part in (0, 1):
            small = statistics.median(run["cpu"][part] for run in fronts[front]["small"])
            spent.append((large["cpu"][part] - small) / extra)
        return f"{us(sum(spent))} ({us(spent[0])} user, {us(spent[1])} system)"

    rows.append(("CPU per exchange (1 MiB session less a 64 KiB one)", "-", cpu_cell("cli"), cpu_cell("window")))

    latencies = [bench.session_latency() for _ in range(args.repeat)]
    ended = [a for a, _ in latencies if a is not None]
    exited = [b for _, b in latencies if b is not None]
    rows.append(('session: unit placed -> "Serial write end.", median', "-",
                 ms(statistics.median(ended)) if ended else "failed", "-"))
    rows.append(("session: unit placed -> exit, median", "-",
                 ms(statistics.median(exited)) if exited else "failed", "-"))

    for count in (1, 16, 64):
        wall, cpu = bench.rescan(count)
        rows.append((f"rescan: `tolvane-cli --list` with {count} unit(s), wall / CPU, median", "-",
                     f"{ms(wall)} / {ms(cpu)}", "-"))

    idles = {front: bench.idle_states(front) for front in ("cli", "window")}
    for state in (0, 99):
        cells = [f"{idles[f][state][0]:.2f}% CPU, {idles[f][state][1]:.1f} wake-ups/s" for f in ("cli", "window")]
        rows.append((f"idle in state {state} over {args.idle:g} s", "-", *cells))

    def rss_cell(front):
        small = max(run["rss"] for run in fronts[front]["small"])
        return f"{small / 1024:.1f} MiB (64 KiB), {fronts[front]['large']['rss'] / 1024:.1f} MiB (1 MiB)"

    rows.append(("peak RSS of a session", "-", rss_cell("cli"), rss_cell("window")))
    failed = [f for f in fronts if not fronts[f]["ok"]]
    return raw_ex, fronts, failed


def station_rows(bench, args, rows, counts=(1, 2, 4, 8)):
    """Whole sessions per second of `tolvane-cli --station` with 1 to 8 units, each uploading 64 KiB
    and writing its serial; gives whether every session ended ok.

    The rate is a round's units over the span from its first report to its last in the simulator's
    trace (the clock of every other row), median over rounds: this leaves out the process's start
    and exit, which would otherwise dominate one run of one unit, and the bench's own turn-around
    between rounds, neither of which is the station's work. Every N serves the same number of
    sessions, so the start-up in the CPU per session weighs alike on each. The raw column is N raw
    clients at once, not one client's rate times N, which would assume the cores were free. Cores
    busy is the CPU per session of the tool and of the simulator's unit threads (raw: of the clients
    and the simulator) times the rate over all rounds together, the rounds the CPU was spent in: the
    simulator shares the cores, so their sum meets the core count; the tool's share also holds its
    start-up and the units' coming and going, so it errs high."""
    sessions = 8 * args.repeat
    cores = os.cpu_count()
    base = {}
    ok = True
    for count in counts:
        rounds = max(1, sessions // count)
        raw = bench.raw_station(count, rounds)
        tool = bench.station(count, rounds)
        ok = ok and tool["ok"]
        raw_rate = statistics.median(raw["rates"])
        base.setdefault("raw", raw_rate)
        raw_busy = raw["cpu"] * statistics.harmonic_mean(raw["rates"])
        raw_cell = f"{raw_rate:.0f}/s ({raw_rate / base['raw']:.2f}x N=1); {raw_busy:.2f} of {cores}"
        label = f"station: {count} unit{'s' if count > 1 else ''}, whole sessions per second"
        if not tool["rates"]:
            rows.append((label, raw_cell, "failed", "-"))
            continue
        rate = statistics.median(tool["rates"])
        base.setdefault("tool", rate)
        ratio = rate / base["tool"]
        busy = (tool["cpu"] + tool["sim"]) * statistics.harmonic_mean(tool["rates"])
        rows.append((f"{label}, median of {rounds} rounds (ratio to N=1); CPU per session (+ the simulator's); "
                     "peak RSS; cores busy", raw_cell,
                     f"{rate:.0f}/s ({ratio:.2f}x N=1 = {ratio / count:.2f} x N); {ms(tool['cpu'])} "
                     f"(+ {ms(tool['sim'])}); {tool['rss'] / 1024:.1f} MiB; {busy:.2f} of {cores}", "-"))
    return ok


def rescan_rows(bench, rows, dead=10000):
    raw_times, tool_times = bench.placement_under_churn(dead)
    reached = [t for t in tool_times if t is not None]
    tool_cell = ms(statistics.median(reached)) if reached else "failed"
    if len(reached) < len(tool_times):
        tool_cell += f" ({len(tool_times) - len(reached)} of {len(tool_times)} runs: no VER within 30 s)"
    rows.append((f"unit placed -> its VER, among {dead:,} dead sockets and one created and deleted 80 times a "
                 "second, median", ms(statistics.median(raw_times)), tool_cell, "-"))
    floor, rescan = bench.rescan_cpu(dead)
    rows.append((f"CPU of one rescan over {dead:,} dead sockets (raw: listing and stat of the directory), median",
                 ms(floor), ms(rescan), "-"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of each idle measurement")
    parser.add_argument("--repeat", type=int, default=5, help="runs of each short measurement")
    parser.add_argument("--only", choices=["rescan", "station"],
                        help="only the rows of rescans among dead sockets, or of the station")
    args = parser.parse_args()
    programs = Programs(args.build)
    scratch = tempfile.mkdtemp(prefix="tolvane-bench-")
    load_before = os.getloadavg()
    bench = Bench(programs, scratch, args)
    rows = []
    raw_ex, fronts, failed = [], {"cli": {"exchanges": []}, "window": {"exchanges": []}}, []
    try:
        if args.only is None:
            raw_ex, fronts, failed = session_rows(bench, args, rows)
        if args.only in (None, "station") and not station_rows(bench, args, rows):
            failed.append("tolvane-cli --station")
        if args.only in (None, "rescan"):
            rescan_rows(bench, rows)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    print(f"machine: {machine()}")
    print(f"load average before / after: {load_before[0]:.2f} / {os.getloadavg()[0]:.2f}")
    print(f"exchanges timed: raw {len(raw_ex)}, tolvane-cli {len(fronts['cli']['exchanges'])}, "
          f"window {len(fronts['window']['exchanges'])}")
    if failed:
        print(f"note: a session of {', '.join(failed)} did not end as expected; its figures are partial")
    print()
    print("| figure | raw transport | tolvane-cli | window (Qt, offscreen) |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
