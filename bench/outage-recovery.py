#!/usr/bin/env python3
"""Recovery after a server outage: two computers with the planner's window open (offscreen), the server stopped for
each outage length, a task added on the first computer while it is away, then the server started again on the same
port. Measures, from the server's return, when both push channels are back (the server's /metrics) and when the task
made during the outage is in the second computer's store file.

usage: bench/outage-recovery.py [BUILD_DIR] [SECONDS ...]   (default: build-bench, 5 30 70 120)
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
outages = [int(s) for s in sys.argv[2:]] or [5, 30, 70, 120]
vellora = os.path.join(build, "Vellora", "vellora")
cloud = os.path.join(build, "Cloud", "vellora-cloud")
work = tempfile.mkdtemp(prefix="vellora-outage-")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


port = free_port()
url = "http://127.0.0.1:%d" % port
data = os.path.join(work, "cloud")


def serve():
    server = subprocess.Popen([cloud, "serve", "--listen", "127.0.0.1:%d" % port, "--data", data],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for(lambda: get("/healthz") is not None)
    return server


def get(path):
    try:
        with urllib.request.urlopen(url + path, timeout=2) as answer:
            return answer.read().decode()
    except OSError:
        return None


def wait_for(condition, timeout=300):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return time.monotonic()
        time.sleep(0.05)
    raise SystemExit("timed out")


def push_sockets():
    metrics = get("/metrics") or ""
    for line in metrics.splitlines():
        if line.startswith("vellora_cloud_push_sockets "):
            return int(float(line.split()[1]))
    return -1


class Computer:
    def __init__(self, name):
        self.home = os.path.join(work, name)
        os.makedirs(self.home, mode=0o700)
        self.env = dict(os.environ, XDG_DATA_HOME=self.home + "/data", XDG_CONFIG_HOME=self.home + "/config",
                        XDG_RUNTIME_DIR=self.home, QT_QPA_PLATFORM="offscreen")
        self.store = self.home + "/store.json"

    def run(self, *arguments, stdin=""):
        return subprocess.run([vellora, *arguments, "--store", self.store], env=self.env, input=stdin, text=True,
                              capture_output=True, check=True)

    def launch(self):
        self.app = subprocess.Popen([vellora, "--store", self.store], env=self.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)

    def titles(self):
        try:
            with open(self.store) as file:
                return [item.get("title") for item in json.load(file).get("items", {}).values()]
        except (OSError, ValueError):
            return []


os.makedirs(data)
subprocess.run([cloud, "user", "add", "anna", "--data", data], capture_output=True, check=True)
server = serve()
computers = [Computer("first"), Computer("second")]
for computer in computers:
    token = subprocess.run([cloud, "user", "add", "anna", "--data", data], capture_output=True, text=True,
                           check=True).stdout
    passphrase = os.path.join(computer.home, "passphrase")
    with open(passphrase, "w") as file:
        file.write("a sync passphrase for the bench\n")
    computer.run("account", "sign-in", url, "anna", "--passphrase-file", passphrase, stdin=token)
    computer.launch()
wait_for(lambda: push_sockets() == 2)

print("| outage | push back after | waiting change arrived after |")
print("|---:|---:|---:|")
try:
    for seconds in outages:
        server.kill()
        server.wait()
        title = "made during a %d s outage" % seconds
        computers[0].run("add", title)
        time.sleep(seconds)
        server = serve()
        back = time.monotonic()
        pushed = wait_for(lambda: push_sockets() == 2)
        arrived = wait_for(lambda: title in computers[1].titles())
        print("| %d s | %.1f s | %.1f s |" % (seconds, pushed - back, arrived - back), flush=True)
finally:
    for computer in computers:
        computer.app.kill()
    server.kill()
