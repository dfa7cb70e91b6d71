#!/usr/bin/python3
"""The bench view's figures for scripts/bench bench: ratios and times measured
in one run, never pass/fail.

    bench_view.py CLI MODSIM FOLDER

- sixteen ports at once with 20 pages open (headless Chromium tabs) against
  one port alone, 256 KiB at 115200 each, the simulators pacing at wire speed;
- event-to-page latency over that run: from orvane-cli writing an event on
  its standard output to the page's script having it (median, 95th percentile);
- --watch --serve with nothing plugged in and 5 pages open: CPU over 30 s as a
  share of one core;
- resident memory of a served station run after 100 and after 1,000 units
  (four stations of 250 units, one page open)."""
import os
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

CLI, MODSIM, FOLDER = sys.argv[1:4]
os.makedirs(FOLDER, exist_ok=True)
IMAGE = os.path.join(FOLDER, "image.bin")
with open(IMAGE, "wb") as f:
    f.write(bytes((i * 13 + i // 977) & 0xFF for i in range(256 * 1024)))
SMALL = os.path.join(FOLDER, "small.bin")
with open(SMALL, "wb") as f:
    f.write(bytes(range(256)) * 8)


spawned = []   # every process started here, ended whatever happens


def wait(condition, limit=60):
    until = time.monotonic() + limit
    while not condition():
        if time.monotonic() > until:
            raise SystemExit("bench_view: gave up waiting")
        time.sleep(0.02)


class Sim:
    def __init__(self, link, *options):
        ready = link + ".ready"
        if os.path.exists(ready):
            os.remove(ready)
        self.link = link
        self.process = subprocess.Popen([MODSIM, "--link", link, "--control", "0", "--ready-file", ready, *options],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        spawned.append(self.process)
        wait(lambda: os.path.exists(ready) and open(ready).read().strip())
        self.control = int(open(ready).read().split("control=")[1])

    def ask(self, request):
        with socket.create_connection(("127.0.0.1", self.control)) as s:
            s.sendall(request.encode() + b"\n")
            return s.makefile().readline().strip()

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Run:
    """orvane-cli with its events read as they come, each with the time it was read."""

    def __init__(self, *args):
        self.p = subprocess.Popen([CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        spawned.append(self.p)
        self.lines = []
        self.first = self.p.stderr.readline() if "--json" in args else ""
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=lambda: self.p.stderr.read(), daemon=True).start()

    def read(self):
        for line in self.p.stdout:
            self.lines.append((time.time() * 1000, line))

    def url(self):
        return self.first.split(" is at ")[1].split()[0]

    def count(self, text):
        return sum(1 for _, line in list(self.lines) if text in line)


def browser():
    options = Options()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
              "--user-data-dir=" + tempfile.mkdtemp(prefix="chromium-", dir=FOLDER)):
        options.add_argument(a)
    options.binary_location = "/usr/bin/chromium"
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class Pages:
    """n pages of the view: the first (the one whose script times what it
    gets) alone in its browser, in front; the others five tabs to a browser,
    as a browser opens at most six connections to one address and each page
    holds one."""

    def __init__(self, url, n, tiles):
        self.drivers = []
        for i in range(n):
            if i % 5 == 1 or i == 0:
                self.drivers.append(browser())
            else:
                self.drivers[-1].switch_to.new_window("tab")
            self.drivers[-1].get(url + ("?trace" if i == 0 else ""))
            d = self.drivers[-1]
            wait(lambda: d.execute_script("return document.querySelectorAll('.tile').length") >= tiles
                 and d.execute_script("return document.getElementById('link').className") == "live")
        self.drivers[0].switch_to.window(self.drivers[0].window_handles[0])

    def trace(self):
        return self.drivers[0].execute_script("return window.benchTrace") if self.drivers else []

    def close(self):
        for d in self.drivers:
            d.quit()


def cpu_ticks(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def rss_kb(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def timed_run(ports, served, pages):
    """Power on every module once the run waits for them; seconds to the end."""
    sims = [Sim(os.path.join(FOLDER, "port%d" % n), "--power-on-crs", "none", "--expect", IMAGE) for n in range(ports)]
    args = ["--port", ",".join(s.link for s in sims), "--image", IMAGE]
    run = Run(*(args + ["--serve", "127.0.0.1:0", "--json"] if served else args + ["--json"]))
    views = Pages(run.url(), pages, ports) if pages else None
    wait(lambda: run.count('"text":"Turn the power on') >= ports)
    start = time.perf_counter()
    for s in sims:
        s.ask("power on")
    code = run.p.wait()
    took = time.perf_counter() - start
    trace = views.trace() if views else []
    if views:
        views.close()
    for s in sims:
        s.stop()
    return took, code, run, trace


def main():
    one, code1, _, _ = timed_run(1, False, 0)
    sixteen, code16, run, trace = timed_run(16, True, 20)
    print("  sixteen ports at once with 20 pages open (--serve), 256 KiB at 115200 each: %.2f s against one port "
          "alone %.2f s = %.3f x (exit %d, %d)  [aim: <= 1.05]" % (sixteen, one, sixteen / one, code16, code1))

    # The same events as the page had them: progress events by port and bytes.
    printed = {}
    for at, line in run.lines:
        if '"event":"progress"' in line:
            port = line.split('"port":"')[1].split('"')[0]
            size = int(line.split('"bytes":')[1].split(",")[0])
            printed.setdefault((port, size), at)
    arrived = {}   # the first message that carried each progress event (later ones of the unit carry it too)
    for at, kind, port, size in trace:
        if kind == "slot" and (port, size) in printed:
            arrived.setdefault((port, size), at)
    delays = [at - printed[key] for key, at in arrived.items()]
    delays.sort()
    if delays:
        p95 = delays[min(len(delays) - 1, (len(delays) * 95 + 99) // 100 - 1)]
        print("  event to page (the page's script has the event; %d events of 16 ports): median %.0f ms, 95th "
              "percentile %.0f ms  [aim: p95 <= 200 ms]" % (len(delays), statistics.median(delays), p95))

    # Idle: --watch --serve, nothing plugged in, five pages open.
    os.makedirs(os.path.join(FOLDER, "hub"), exist_ok=True)
    run = Run("--watch", "--match", os.path.join(FOLDER, "hub", "com?"), "--image", IMAGE, "--serve", "127.0.0.1:0",
              "--json")
    views = Pages(run.url(), 5, 0)
    time.sleep(2)
    hz = os.sysconf("SC_CLK_TCK")
    t0, c0 = time.time(), cpu_ticks(run.p.pid)
    time.sleep(30)
    t1, c1 = time.time(), cpu_ticks(run.p.pid)
    print("  --watch --serve idle, nothing plugged in, 5 pages open, %.0f s: %.2f%% of one core  [aim: < 1%%]"
          % (t1 - t0, (c1 - c0) / hz / (t1 - t0) * 100))
    views.close()
    run.p.send_signal(signal.SIGINT)
    run.p.wait()

    # Memory over 1,000 units: four served stations of 250 units each.
    sims = [Sim(os.path.join(FOLDER, "station%d" % n), "--no-pace", "--idle-ms", "20") for n in range(4)]
    run = Run("--port", ",".join(s.link for s in sims), "--image", SMALL, "--station", "--serve", "127.0.0.1:0",
              "--json")
    views = Pages(run.url(), 1, 4)
    start = time.perf_counter()
    wait(lambda: run.count('"event":"result"') >= 100, 600)
    at100 = rss_kb(run.p.pid)
    wait(lambda: run.count('"event":"result"') >= 1000, 1200)
    at1000 = rss_kb(run.p.pid)
    took = time.perf_counter() - start
    views.close()
    run.p.send_signal(signal.SIGINT)
    run.p.wait()
    for s in sims:
        s.stop()
    print("  resident memory of a served station run (4 ports, one page open): %.1f MB after 100 units, %.1f MB after "
          "1,000 (%.0f s) = %.2f x  [aim: flat]" % (at100 / 1024, at1000 / 1024, took, at1000 / at100))


try:
    main()
finally:
    for p in spawned:
        if p.poll() is None:
            p.kill()
            p.wait()
