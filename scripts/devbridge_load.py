#!/usr/bin/env python3
"""Measures the development bridge under load, on 127.0.0.1 only.

    scripts/devbridge_load.py [BUILD_DIR] [flood|stalled|memory ...]

BUILD_DIR (default build) holds velmot_devbridge and the launcher. Every
scenario starts its own bridge with --serve on the example commands, is
bounded in connections, runs and time, and stops the bridge itself:

  flood    600 connections that send nothing, reopened as the bridge closes
           them, while a launcher runs `probe out x` 40 times: median and
           maximum wall time, and the bridge's peak resident memory.
  stalled  1, then 16 clients that ask for 9 MB and read nothing: the wall
           time of a launcher run meanwhile and of `velmot_devbridge --stop`.
  memory   16 launchers at once, each reading a 9 MB reply: the bridge's peak
           resident memory.
"""
import os
import selectors
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMANDS = os.path.join(ROOT, "examples", "commands")
RUN_LIMIT_S = 20


class Bridge:
    def __init__(self, build):
        self.bridge = os.path.join(build, "velmot_devbridge")
        out = subprocess.run(
            [self.bridge, "--commands", COMMANDS, "--sh", "--serve"],
            capture_output=True, text=True, timeout=RUN_LIMIT_S, check=True).stdout
        values = {}
        for line in out.splitlines():
            name, _, value = line.removeprefix("export ").partition("=")
            values[name] = value.strip("'")
        self.env = {k: v for k, v in values.items() if k.startswith("VELMOT_")}
        self.pid = int(values["VELMOT_DEVBRIDGE_PID"])
        self.port = int(values["VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT"].split(":")[2].split("/")[0])
        self.token = values["VELMOT_INTERNAL_PLUGIN_CLI_TOKEN"]

    def peak_kib(self):
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        start = time.monotonic()
        env = dict(os.environ, VELMOT_DEVBRIDGE_PID=str(self.pid))
        result = subprocess.run([self.bridge, "--stop"], env=env, capture_output=True,
                                timeout=RUN_LIMIT_S)
        return time.monotonic() - start, result.returncode


def launcher(tmp, build):
    link = os.path.join(tmp, "velmot-probe")
    if not os.path.exists(link):
        os.symlink(os.path.join(build, "velmot-plugin-cli-client"), link)
    return link


def timed_run(bridge, probe, args):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), **bridge.env}
    env.pop("VELMOT_DEVBRIDGE_PID", None)
    start = time.monotonic()
    result = subprocess.run([probe, *args], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=RUN_LIMIT_S)
    return time.monotonic() - start, result.returncode


def request(bridge, args):
    body = ('{"protocol_version":1,"kind":"plugin_cli_invoke","plugin_id":"probe","argv":[%s]}'
            % ",".join('"%s"' % a for a in args))
    return (f"POST /plugin-cli HTTP/1.1\r\nHost: 127.0.0.1:{bridge.port}\r\n"
            f"X-Velmot-Plugin-Cli-Token: {bridge.token}\r\nContent-Length: {len(body)}\r\n"
            f"\r\n{body}").encode()


def idle_flood(port, count, stop):
    """Holds `count` idle connections, reopening those the bridge closes."""
    selector = selectors.DefaultSelector()

    def open_one():
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        selector.register(s, selectors.EVENT_READ)

    for _ in range(count):
        open_one()
    reopened = 0
    while not stop.is_set():
        for key, _ in selector.select(timeout=0.1):
            try:
                data = key.fileobj.recv(4096)
            except OSError:
                data = b""
            if not data:
                selector.unregister(key.fileobj)
                key.fileobj.close()
                open_one()
                reopened += 1
    for key in list(selector.get_map().values()):
        key.fileobj.close()
    stop.reopened = reopened


def flood(build, tmp):
    bridge = Bridge(build)
    probe = launcher(tmp, build)
    stop = threading.Event()
    flooder = threading.Thread(target=idle_flood, args=(bridge.port, 600, stop))
    flooder.start()
    time.sleep(1.5)  # the flood is under way before the first run
    times, failures = [], 0
    for _ in range(40):
        took, status = timed_run(bridge, probe, ["out", "x"])
        times.append(took)
        failures += status != 0
    peak = bridge.peak_kib()
    stop.set()
    flooder.join()
    bridge.stop()
    print(f"flood: 600 idle connections ({stop.reopened} reopened), 40 runs: "
          f"median {statistics.median(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms, "
          f"{failures} failed; bridge peak RSS {peak / 1024:.1f} MiB")


def stalled(build, tmp):
    probe = launcher(tmp, build)
    for count in (1, 16):
        bridge = Bridge(build)
        held = []
        for _ in range(count):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1)
            s.connect(("127.0.0.1", bridge.port))
            s.sendall(request(bridge, ["bytes", "9000000"]))
            held.append(s)
        for s in held:  # every reply has started: its command has ended
            s.settimeout(RUN_LIMIT_S)
            s.recv(1, socket.MSG_PEEK)
        took, status = timed_run(bridge, probe, ["out", "x"])
        stop_took, stop_status = bridge.stop()
        for s in held:
            s.close()
        print(f"stalled: {count} stalled readers: a run took {took * 1000:.0f} ms "
              f"(status {status}); --stop took {stop_took * 1000:.0f} ms (status {stop_status})")


def memory(build, tmp):
    bridge = Bridge(build)
    probe = launcher(tmp, build)
    before = bridge.peak_kib()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), **bridge.env}
    start = time.monotonic()
    runs = [subprocess.Popen([probe, "bytes", "9000000"], env=env, stdout=subprocess.DEVNULL)
            for _ in range(16)]
    statuses = [run.wait(timeout=RUN_LIMIT_S * 3) for run in runs]
    took = time.monotonic() - start
    peak = bridge.peak_kib()
    bridge.stop()
    print(f"memory: 16 x 9 MB replies in {took:.1f} s, statuses {sorted(set(statuses))}: "
          f"bridge peak RSS {peak / 1024:.1f} MiB (idle {before / 1024:.1f} MiB)")


def main():
    args = sys.argv[1:]
    build = args.pop(0) if args and os.path.isdir(args[0]) else os.path.join(ROOT, "build")
    build = os.path.abspath(build)
    tmp = tempfile.mkdtemp(prefix="devbridge-load-")
    try:
        for name in args or ["flood", "stalled", "memory"]:
            {"flood": flood, "stalled": stalled, "memory": memory}[name](build, tmp)
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
