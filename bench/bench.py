#!/usr/bin/env python3
"""bench/bench.py: delivery speed, idle CPU, wall time and memory of the native
upgrader against the simulated device, beside tftpd-hpa, all on loopback.

Run it through bench/run, which installs what it needs and builds first.
Every wait has a time limit, and every process it starts is ended on the
way out, also on failure.
"""

import argparse
import hashlib
import json
import os
import platform
import queue
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TIMED_FETCH = os.path.join(ROOT, "bench", "timed-fetch")

PC = "127.0.100.1"          # the upgrader's address
DEVICE = "127.0.100.2"      # the simulated device, port 80
OTHER_SERVER = "127.0.101.1"  # tftpd-hpa, port 69
OTHER_PORT = 69
IMAGE_SIZE = 751211

WARNING, PHONE_ADDRESS, CONFIRM, WAITING, UPLOAD, SUCCESS = 139, 305, 103, 114, 110, 111
OK, ADDRESS_BOX = 1, 1000

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
started = []  # processes of ours still to be ended: (Popen, name)


class BenchError(Exception):
    pass


def end_process(proc, name):
    """Ends a process group we started: SIGTERM, then SIGKILL after 3 s."""
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=3)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait(timeout=3)
    if (proc, name) in started:
        started.remove((proc, name))


def end_all():
    for proc, name in list(started):
        end_process(proc, name)


def start(args, name, **kwargs):
    proc = subprocess.Popen(args, start_new_session=True, **kwargs)
    started.append((proc, name))
    return proc


class Lines:
    """The lines of a child's standard output, read on a thread of their own."""

    def __init__(self, stream):
        self.queue = queue.Queue()
        self.seen = []  # "+seconds line", for the messages of failures
        self.t0 = time.monotonic()
        self.thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self.thread.start()

    def _read(self, stream):
        for raw in stream:
            self.queue.put((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\n")))
        self.queue.put(None)

    def wait(self, pattern, limit, what):
        deadline = time.monotonic() + limit
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise BenchError(f"timed out after {limit} s waiting for {what}; saw: "
                                 + " | ".join(self.seen[-8:]))
            try:
                item = self.queue.get(timeout=left)
            except queue.Empty:
                continue
            if item is None:
                raise BenchError(f"the program ended while waiting for {what}; saw: "
                                 + " | ".join(self.seen[-8:]))
            arrival, line = item
            self.seen.append(f"+{arrival - self.t0:.3f} {line}")
            match = re.fullmatch(pattern, line)
            if match:
                self.arrival = arrival
                return match
            if line.startswith("msgbox ") or line.startswith("error "):
                raise BenchError(f"unexpected '{line}' while waiting for {what}")


# Scaled by 1000 the upgrader's 30 s flash wait lasts 30 ms, and its re-query
# of the page must find the device back: the device does not pause. When
# the device fetches through a command, the simulator sees the command end
# up to 20 ms late, so those runs keep a flash wait of 0.3 s (scale 100)
# and a device flash of 0.1 s; the delivery itself runs on no clock.
FAST_SCALE = 1000
FAST_FLASH_SECONDS = 0
DELIVERY_SCALE = 100
DELIVERY_FLASH_SECONDS = 0.1


def start_simulator(work, label, fetch_delay_ms, command=None, env=None, flash_seconds=0.1):
    log = os.path.join(work, label + ".log")
    image_out = os.path.join(work, label + ".image")
    for path in (log, image_out):
        if os.path.exists(path):
            os.remove(path)
    args = [SIM, "--address", DEVICE, "--port", "80", "--flash-seconds", str(flash_seconds),
            "--fetch-delay-ms", str(fetch_delay_ms), "--image-out", image_out,
            "--log", log, "--max-seconds", "120"]
    if command:
        args += ["--tftp-command", command]
    proc = start(args, "nuv-device-sim", stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                 stderr=subprocess.STDOUT, env=env)
    Lines(proc.stdout).wait(r"listening .*", 10, "the simulator's ready line")
    return proc, log, image_out


def log_records(path, event):
    out = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                if record.get("event") == event:
                    out.append(record)
    except FileNotFoundError:
        pass
    return out


def process_cpu_seconds(pid):
    """utime + stime of every thread of the process, dead ones included."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def process_run_ns(pid):
    """Nanoseconds on the CPU of the living threads (finer than the ticks)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def process_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return None


def sample(pid):
    return {"wall": time.monotonic(), "cpu": process_cpu_seconds(pid),
            "run_ns": process_run_ns(pid), "switches": process_switches(pid)}


def usage_between(a, b):
    wall = b["wall"] - a["wall"]
    return {"window_s": round(wall, 3),
            "cpu_ms_per_s": round(1000 * (b["cpu"] - a["cpu"]) / wall, 2),
            "run_ms_per_s": round((b["run_ns"] - a["run_ns"]) / 1e6 / wall, 2),
            "switches_per_s": round((b["switches"] - a["switches"]) / wall, 1)}


def run_upgrade(clock_scale, hooks=None, limit=60):
    """One upgrade by the upgrader, screen by screen. `hooks` maps a template
    to a function called with the pid when that screen opens. Returns the
    wall time to the exit line, the peak memory, and when each screen
    waited for arrived."""
    hooks = hooks or {}
    env = dict(os.environ, NUV_UI="script", NUV_HOST_ADDRESSES=PC,
               NUV_CLOCK_SCALE=str(clock_scale))
    t0 = time.monotonic()
    proc = start([UPGRADER], "nuv-upgrade", stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                 stderr=subprocess.DEVNULL, env=env)
    lines = Lines(proc.stdout)
    arrivals = {}

    def send(text):
        proc.stdin.write((text + "\n").encode())
        proc.stdin.flush()

    def screen(template, wait_limit=10):
        handle = lines.wait(rf"open (\d+) {template}", wait_limit, f"screen {template}").group(1)
        arrivals[template] = lines.arrival
        if template in hooks:
            hooks[template](proc.pid)
        return handle

    try:
        h = screen(WARNING)
        send(f"click {h} {OK}")
        h = screen(PHONE_ADDRESS)
        send(f'type {h} {ADDRESS_BOX} "{DEVICE}"')
        send(f"click {h} {OK}")
        h = screen(CONFIRM)
        send(f"click {h} {OK}")
        if WAITING in hooks:
            screen(WAITING)
        if UPLOAD in hooks:
            screen(UPLOAD, limit)
        h = screen(SUCCESS, limit)
        hwm = status_kib(proc.pid, "VmHWM")
        send(f"click {h} {OK}")
        code = int(lines.wait(r"exit (-?\d+)", 10, "the exit line").group(1))
        wall = time.monotonic() - t0
        proc.stdin.close()
        deadline = time.monotonic() + 10
        while True:
            pid, status = os.waitpid(proc.pid, os.WNOHANG)
            if pid == proc.pid:
                break
            if time.monotonic() > deadline:
                raise BenchError("the upgrader did not end after its exit line")
            time.sleep(0.01)
        proc.returncode = os.waitstatus_to_exitcode(status)
        if code != 0 or proc.returncode != 0:
            raise BenchError(f"the upgrader ended with {code} / {proc.returncode}")
        # Its VmHWM, not the rusage of wait4: that one keeps the peak of the
        # forked Python from before the exec.
        return {"wall_s": wall, "vm_hwm_kib": hwm, "arrivals": arrivals}
    finally:
        end_process(proc, "nuv-upgrade")


def read_times(path):
    """The lines bench/timed-fetch appended, as records."""
    out = []
    with open(path) as f:
        for line in f:
            wall, total, size, status = line.split()
            out.append({"wall_s": float(wall), "curl_s": float(total), "bytes": int(size),
                        "status": int(status)})
    return out


def md5_file(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def fetch_from_upgrader(work, times, image_md5):
    """A whole upgrade in which the device fetches with curl through the timer."""
    before = len(read_times(times)) if os.path.exists(times) else 0
    # The name starts with '/', and curl drops the first '/' of the path.
    command = f"{TIMED_FETCH} {DEVICE} {{file}} tftp://{{address}}:{{port}}/{{name}}"
    env = dict(os.environ, NUV_BENCH_TIMES=times)
    sim, log, image_out = start_simulator(work, "upgrader-fetch", 0, command, env,
                                          DELIVERY_FLASH_SECONDS)
    try:
        run_upgrade(DELIVERY_SCALE)
    finally:
        end_process(sim, "nuv-device-sim")
    fetches = log_records(log, "fetch")
    if len(fetches) != 1 or fetches[0].get("result") != "ok":
        raise BenchError(f"the simulated device's fetch failed: {fetches}")
    record = read_times(times)[before:]
    if len(record) != 1 or record[0]["status"] != 0 or md5_file(image_out) != image_md5:
        raise BenchError(f"curl's fetch from the upgrader is not the image: {record}")
    return record[0]


def fetch_from_other(work, times, image_md5):
    out = os.path.join(work, "other-fetch.image")
    env = dict(os.environ, NUV_BENCH_TIMES=times)
    before = len(read_times(times)) if os.path.exists(times) else 0
    try:
        subprocess.run([TIMED_FETCH, DEVICE, out, f"tftp://{OTHER_SERVER}:{OTHER_PORT}/nuv-release.bin"],
                       env=env, timeout=90, check=False, stdout=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        raise BenchError("curl's fetch from tftpd-hpa did not end within 90 s") from None
    record = read_times(times)[before:]
    if len(record) != 1 or record[0]["status"] != 0 or md5_file(out) != image_md5:
        raise BenchError(f"curl's fetch from tftpd-hpa is not the image: {record}")
    return record[0]


def udp_bound(address, port):
    """Whether a UDP socket is bound to address:port (or to port of 0.0.0.0)."""
    def key(a):
        return "".join(f"{int(b):02X}" for b in reversed(a.split("."))) + f":{port:04X}"
    wanted = {key(address), key("0.0.0.0")}
    with open("/proc/net/udp") as f:
        return any(line.split()[1] in wanted for line in list(f)[1:])


def start_other_server(work, image):
    if udp_bound(OTHER_SERVER, OTHER_PORT):
        raise BenchError(f"UDP port {OTHER_PORT} of {OTHER_SERVER} (or of 0.0.0.0) is taken, "
                         "perhaps by a tftpd daemon; stop it first")
    root = os.path.join(work, "tftp-root")
    os.makedirs(root, exist_ok=True)
    os.chmod(work, 0o755)
    os.chmod(root, 0o755)
    served = os.path.join(root, "nuv-release.bin")
    shutil.copyfile(image, served)
    os.chmod(served, 0o644)
    tftpd = shutil.which("in.tftpd") or "/usr/sbin/in.tftpd"
    args = [tftpd, "--foreground", "--address", f"{OTHER_SERVER}:{OTHER_PORT}", "--secure", root,
            "--user", "nobody"]
    proc = start(args, "in.tftpd", stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.PIPE)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise BenchError("tftpd-hpa did not start: " + proc.stderr.read().decode(errors="replace"))
        if udp_bound(OTHER_SERVER, OTHER_PORT):
            time.sleep(0.1)
            if proc.poll() is None:
                return proc
        time.sleep(0.05)
    raise BenchError("tftpd-hpa did not bind its address within 5 s")


def measure_idle_cpu(work, scale, window):
    """CPU per second of the upgrader while it waits for the read request and
    while it waits out the device's flash, from one upgrade."""
    fetch_delay_ms = int(window * 1000 + 1500)
    sim, log, _ = start_simulator(work, "idle-cpu", fetch_delay_ms)
    result = {}

    def on_waiting(pid):
        time.sleep(0.5)
        a = sample(pid)
        time.sleep(window)
        result["read_request"] = usage_between(a, sample(pid))
        result["read_request"]["ended"] = time.monotonic()

    def on_upload(pid):
        deadline = time.monotonic() + 30
        while not log_records(log, "fetch"):
            if time.monotonic() > deadline:
                raise BenchError("the simulated device's fetch did not end within 30 s")
            time.sleep(0.02)
        result["fetch_ended"] = time.monotonic()
        time.sleep(0.3)
        a = sample(pid)
        time.sleep(window)
        result["flash"] = usage_between(a, sample(pid))
        result["flash"]["ended"] = time.monotonic()

    try:
        arrivals = run_upgrade(scale, {WAITING: on_waiting, UPLOAD: on_upload}, limit=60)["arrivals"]
    finally:
        end_process(sim, "nuv-device-sim")
    # Both windows must lie inside their waits: the upload screen came after
    # the first, and the success screen after the second; the flash wait
    # lasts 937 ticks of 32 ms on the scaled clock.
    flash_wait = 937 * 32 / 1000 / scale
    if arrivals[UPLOAD] < result["read_request"]["ended"]:
        raise BenchError("the read request came inside the window of its wait")
    if arrivals[SUCCESS] < result["flash"]["ended"]:
        raise BenchError("the flash window did not fit inside the flash wait")
    for part in ("read_request", "flash"):
        del result[part]["ended"]
    del result["fetch_ended"]
    result["clock_scale"] = scale
    result["flash_wait_s"] = round(flash_wait, 3)
    result["fetch_delay_ms"] = fetch_delay_ms
    return result


def median(values):
    return statistics.median(values)


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    system = platform.system() + " " + platform.release()
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    system = line.split("=", 1)[1].strip().strip('"') + ", " + platform.release()
    except FileNotFoundError:
        pass
    def version(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True, timeout=10).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            return "unknown"
    return {"cpu": cpu, "cores": os.cpu_count(), "system": system,
            "load_average_at_start": [round(x, 2) for x in os.getloadavg()],
            "curl": version(["curl", "--version"]).split("\n")[0].split(" (")[0],
            "tftpd_hpa": version(["dpkg-query", "-W", "-f=${Version}", "tftpd-hpa"])}


def cpu_cell(usage):
    return (f"{usage['run_ms_per_s']:.1f} ms/s ({usage['cpu_ms_per_s']:.1f} in clock ticks), "
            f"{usage['switches_per_s']:.0f} context switches/s")


def markdown(results):
    d = results["delivery"]
    c = results["idle_cpu"]
    u = results["upgrade"]
    m = results["machine"]
    kib = 1 / 1024
    lines = [
        f"Measured {results['date']} on {m['cpu']} ({m['cores']} cores), {m['system']}; "
        f"load average {m['load_average_at_start'][0]} at the start (other work on the machine). "
        f"Client {m['curl']} with 512-byte blocks; tftpd-hpa {m['tftpd_hpa']}; "
        f"{d['runs']} alternating runs each, medians.",
        "",
        "| measurement | upgrader | tftpd-hpa | ratio |",
        "|---|---|---|---|",
        f"| delivery of the {IMAGE_SIZE:,}-byte image, curl's transfer time | "
        f"{d['upgrader']['curl_s'] * 1000:.1f} ms ({d['upgrader']['mb_per_s']:.2f} MB/s) | "
        f"{d['tftpd_hpa']['curl_s'] * 1000:.1f} ms ({d['tftpd_hpa']['mb_per_s']:.2f} MB/s) | "
        f"{d['ratio_curl']:.2f} |",
        f"| the same, best run | {d['upgrader']['best_curl_s'] * 1000:.1f} ms | "
        f"{d['tftpd_hpa']['best_curl_s'] * 1000:.1f} ms | "
        f"{d['upgrader']['best_curl_s'] / d['tftpd_hpa']['best_curl_s']:.2f} |",
        f"| the same, wall time of the curl process | {d['upgrader']['wall_s'] * 1000:.1f} ms | "
        f"{d['tftpd_hpa']['wall_s'] * 1000:.1f} ms | {d['ratio_wall']:.2f} |",
        f"| CPU while waiting for the read request | {cpu_cell(c['read_request'])} | | |",
        f"| CPU while waiting for the device's flash (clock scale {c['clock_scale']}) | "
        f"{cpu_cell(c['flash'])} | | |",
        f"| one whole upgrade, flash wait scaled away | {u['wall_s'] * 1000:.0f} ms | | |",
        f"| peak memory (VmHWM, highest of {len(u['runs'])} upgrades) | {u['vm_hwm_kib'] * kib:.1f} MiB | | |",
    ]
    lines += [
        "",
        f"Ratio: the upgrader's time over tftpd-hpa's (above 1: the upgrader is slower). "
        f"Delivery: curl fetches from {DEVICE} in 512-byte blocks, from the upgrader "
        f"inside a whole upgrade of the simulated device and from tftpd-hpa on "
        f"{OTHER_SERVER}:{OTHER_PORT}; its transfer time leaves out its own start-up, "
        f"the process time does not. CPU: run time of all threads (schedstat; utime+stime "
        f"in clock ticks beside it) over {c['read_request']['window_s']:.0f} s windows inside "
        f"each wait, per second of waiting; "
        f"the flash wait sleeps 32 ms a step whatever the clock scale. Whole upgrade: "
        f"start to exit, screens answered at once, clock scale {u['clock_scale']}, "
        f"the simulator's own TFTP client, no pause for the device's flash.",
    ]
    return "\n".join(lines) + "\n"


def main():
    global UPGRADER, SIM
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=11, help="runs of each contender (default 11)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "bench"),
                        help="build folder with nuv-upgrade and nuv-device-sim (default build/bench)")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "bench-results"),
                        help="folder for results.md and results.json (default build/bench-results)")
    parser.add_argument("--cpu-window", type=float, default=4.0,
                        help="seconds of each CPU measurement (default 4)")
    parser.add_argument("--cpu-clock-scale", type=int, default=5,
                        help="clock scale of the CPU run; its flash wait lasts 30 s / scale (default 5)")
    opts = parser.parse_args()
    if opts.runs < 1 or opts.runs > 100:
        parser.error("--runs must be from 1 to 100")
    if 30 / opts.cpu_clock_scale < opts.cpu_window + 1:
        parser.error("the flash wait (30 s / --cpu-clock-scale) must exceed --cpu-window by 1 s")
    if os.geteuid() != 0:
        raise BenchError("run it as root: the device listens on port 80 and tftpd-hpa on port 69")
    UPGRADER = os.path.join(opts.build, "nuv-upgrade")
    SIM = os.path.join(opts.build, "nuv-device-sim")
    image = os.path.join(opts.build, "firmware", "nuv-release.bin")
    for path in (UPGRADER, SIM, image):
        if not os.path.exists(path):
            raise BenchError(f"{path} is missing; build first (bench/run does)")
    if os.path.getsize(image) != IMAGE_SIZE:
        raise BenchError(f"{image} is not the {IMAGE_SIZE}-byte release image")
    image_md5 = md5_file(image)

    os.makedirs(opts.out, exist_ok=True)
    results = {"date": time.strftime("%Y-%m-%d %H:%M"), "machine": machine()}
    with tempfile.TemporaryDirectory(prefix="nuv-bench-") as work:
        times = os.path.join(work, "times.txt")
        other = start_other_server(work, image)
        samples = {"upgrader": [], "tftpd_hpa": []}
        try:
            for i in range(opts.runs):
                order = ["upgrader", "tftpd_hpa"] if i % 2 == 0 else ["tftpd_hpa", "upgrader"]
                for who in order:
                    run = (fetch_from_upgrader if who == "upgrader" else fetch_from_other)(
                        work, times, image_md5)
                    samples[who].append(run)
                    print(f"delivery {i + 1}/{opts.runs} {who}: curl {run['curl_s'] * 1000:.1f} ms, "
                          f"process {run['wall_s'] * 1000:.1f} ms", flush=True)
        finally:
            end_process(other, "in.tftpd")
        delivery = {"runs": opts.runs, "samples": samples}
        for who in samples:
            curl_s = median([r["curl_s"] for r in samples[who]])
            delivery[who] = {"curl_s": curl_s, "wall_s": median([r["wall_s"] for r in samples[who]]),
                             "best_curl_s": min(r["curl_s"] for r in samples[who]),
                             "mb_per_s": IMAGE_SIZE / curl_s / 1e6}
        delivery["ratio_curl"] = delivery["upgrader"]["curl_s"] / delivery["tftpd_hpa"]["curl_s"]
        delivery["ratio_wall"] = delivery["upgrader"]["wall_s"] / delivery["tftpd_hpa"]["wall_s"]
        results["delivery"] = delivery

        print("idle CPU ...", flush=True)
        results["idle_cpu"] = measure_idle_cpu(work, opts.cpu_clock_scale, opts.cpu_window)

        runs = []
        for i in range(opts.runs):
            sim, log, image_out = start_simulator(work, "whole", 0, flash_seconds=FAST_FLASH_SECONDS)
            try:
                run = run_upgrade(FAST_SCALE)
                del run["arrivals"]
                runs.append(run)
            finally:
                end_process(sim, "nuv-device-sim")
            if md5_file(image_out) != image_md5:
                raise BenchError("the device did not receive the image")
            print(f"upgrade {i + 1}/{opts.runs}: {runs[-1]['wall_s'] * 1000:.0f} ms", flush=True)
        results["upgrade"] = {
            "runs": runs, "clock_scale": FAST_SCALE, "device_flash_s": FAST_FLASH_SECONDS, "fetch": "the simulator's own client",
            "wall_s": median([r["wall_s"] for r in runs]),
            "vm_hwm_kib": max(r["vm_hwm_kib"] for r in runs)}

    table = markdown(results)
    with open(os.path.join(opts.out, "results.md"), "w") as f:
        f.write(table)
    with open(os.path.join(opts.out, "results.json"), "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    print()
    print(table, end="")
    print(f"\nwritten: {opts.out}/results.md, {opts.out}/results.json")


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    try:
        main()
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)
    finally:
        end_all()
