#!/usr/bin/env python3
"""The live page under load: the headless gateway against tools/robot-sim (20 frames/s) and
tools/xap-hub on loopback ports.
  1. 5 MJPEG viewers for --seconds: robot frame written (robot-sim's log time) -> the whole frame
     received by a viewer, median and p99; frames delivered to each viewer; gateway CPU;
  2. POST /spykee/live/drive (forward/stop alternately) -> the motor packet at robot-sim, median;
  3. one viewer reading one frame a second for --slow-seconds beside 4 fast ones: the gateway's
     RSS growth, and what the fast ones still get.
Usage: bench/live_bench.py [--build DIR] [--seconds S] [--slow-seconds S] [--drives N]
Frames are matched by their FNV-1a hash, which robot-sim logs with each frame it sends.
"""
import argparse
import json
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BOUNDARY = b"--rovalinkframe"


def fnv1a(data):
    h = 2166136261
    for c in data:
        h = ((h ^ c) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


def now_us():
    return time.time_ns() // 1000


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Viewer(threading.Thread):
    """Reads the MJPEG stream; records (hash, time received) per frame. pace: seconds per frame."""

    def __init__(self, port, pace=0.0):
        super().__init__(daemon=True)
        self.port, self.pace = port, pace
        self.frames = []
        self.stop = False

    def run(self):
        sock = socket.create_connection(("127.0.0.1", self.port))
        if self.pace:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sock.sendall(f"GET /spykee/live.mjpg HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n\r\n".encode())
        buffer = b""
        head_done = False
        while not self.stop:
            if self.pace:
                time.sleep(self.pace)
            chunk = sock.recv(4096 if self.pace else 1 << 20)
            if not chunk:
                break
            buffer += chunk
            if not head_done:
                end = buffer.find(b"\r\n\r\n")
                if end < 0:
                    continue
                buffer, head_done = buffer[end + 4:], True
            while True:
                start = buffer.find(BOUNDARY)
                head_end = buffer.find(b"\r\n\r\n", start) if start >= 0 else -1
                if head_end < 0:
                    break
                length = int(re.search(rb"Content-Length: (\d+)", buffer[start:head_end])[1])
                if len(buffer) < head_end + 4 + length:
                    break
                jpeg = buffer[head_end + 4:head_end + 4 + length]
                self.frames.append((fnv1a(jpeg), now_us()))
                buffer = buffer[head_end + 4 + length:]
                if self.pace:
                    break
        sock.close()


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kb(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", open(f"/proc/{pid}/status").read())[1])


def sent_frames(log_path, since_us, until_us):
    frames = {}
    with open(log_path) as f:
        for line in f:
            if '"frame-sent"' in line:
                entry = json.loads(line)
                if since_us <= entry["t_us"] <= until_us:
                    frames[entry["fnv"]] = entry["t_us"]
    return frames


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))]


def watch(port, log, seconds, paces):
    viewers = [Viewer(port, pace) for pace in paces]
    for v in viewers:
        v.start()
    time.sleep(2)  # all connected and streaming
    since = now_us()
    time.sleep(seconds)
    until = now_us()
    time.sleep(1)  # the last frames arrive
    for v in viewers:
        v.stop = True
    sent = sent_frames(log, since, until)
    return viewers, sent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--slow-seconds", type=int, default=60)
    parser.add_argument("--drives", type=int, default=200)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="rovalink-live-bench-")
    app = os.path.join(work, "app")
    os.makedirs(os.path.join(app, "Config"))
    log = os.path.join(work, "robot.log")
    children = []
    try:
        hub = subprocess.Popen([os.path.join(args.build, "tools/xap-hub"), "--port", "0"],
                               stdout=subprocess.PIPE, text=True)
        children.append(hub)
        hub_port = re.search(r"listening on (\d+)", hub.stdout.readline())[1]
        robot = subprocess.Popen([os.path.join(args.build, "tools/robot-sim"), "--port", "0",
                                  "--fps", "20", "--log", log],
                                 stdout=subprocess.PIPE, text=True)
        children.append(robot)
        robot_port = re.search(r"tcp=(\d+)", robot.stdout.readline())[1]
        web_port = free_port()
        with open(os.path.join(app, "Config", "qbtXap.ini"), "w") as f:
            f.write(f"[Interface]\r\nBusPort={hub_port}\r\nBroadcastAddress=127.0.0.1\r\n"
                    "InterfaceAddress=127.0.0.1\r\n")
        with open(os.path.join(app, "Config", "qbtRovalink.ini"), "w") as f:
            f.write(f"[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort={robot_port}\r\n"
                    f"ServerPort={web_port}\r\nServerAddress=127.0.0.1\r\n")
        gateway = subprocess.Popen([os.path.join(args.build, "src/rovalink"), "--headless",
                                    "--app-dir", app], stderr=subprocess.DEVNULL)
        children.append(gateway)
        deadline = time.monotonic() + 60
        while '"frame-sent"' not in (open(log).read() if os.path.exists(log) else ""):
            if time.monotonic() > deadline:
                sys.exit("live_bench: no video from the robot")
            time.sleep(0.2)
        time.sleep(1)

        # 1. Five fast viewers.
        cpu0, wall0 = cpu_seconds(gateway.pid), time.monotonic()
        viewers, sent = watch(web_port, log, args.seconds, [0.0] * 5)
        cpu = (cpu_seconds(gateway.pid) - cpu0) / (time.monotonic() - wall0)
        latencies, delivered = [], []
        for v in viewers:
            got = {h: t for h, t in v.frames if h in sent}
            delivered.append(100.0 * len(got) / max(1, len(sent)))
            latencies += [(t - sent[h]) / 1000 for h, t in got.items()]
        print(f"frames: {len(sent)} sent in {args.seconds} s to 5 viewers")
        print(f"frame written -> received: median {statistics.median(latencies):.2f} ms, "
              f"p99 {percentile(latencies, 99):.2f} ms")
        print("delivered per viewer: " + ", ".join(f"{d:.1f} %" for d in delivered))
        print(f"gateway CPU: {100 * cpu:.1f} % of one core (the whole headless process)")

        # 2. Drive round trips.
        delays = []
        for i in range(args.drives):
            direction = "forward" if i % 2 == 0 else "stop"
            payload = "3434" if direction == "forward" else "0000"
            before = sum(1 for line in open(log) if '"type":5,' in line)
            body = f"direction={direction}&client=bench&seq={i + 1}"
            sent_at = now_us()
            with socket.create_connection(("127.0.0.1", web_port)) as s:
                s.sendall((f"POST /spykee/live/drive HTTP/1.1\r\nHost: 127.0.0.1:{web_port}\r\n"
                           f"Origin: http://127.0.0.1:{web_port}\r\n"
                           "Content-Type: application/x-www-form-urlencoded\r\n"
                           f"Content-Length: {len(body)}\r\n\r\n{body}").encode())
                answer = s.recv(4096)
                assert answer.startswith(b"HTTP/1.1 204"), answer
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                lines = [l for l in open(log) if '"type":5,' in l][before:]
                hits = [json.loads(l) for l in lines if f'"payload":"{payload}"' in l]
                if hits:
                    delays.append((hits[0]["t_us"] - sent_at) / 1000)
                    break
                time.sleep(0.002)
            time.sleep(0.05)
        print(f"POST drive -> motor packet at the robot: median {statistics.median(delays):.2f} ms, "
              f"p99 {percentile(delays, 99):.2f} ms over {len(delays)}")

        # 3. A slow viewer beside four fast ones.
        rss0 = rss_kb(gateway.pid)
        viewers, sent = watch(web_port, log, args.slow_seconds, [0.0] * 4 + [1.0])
        rss1 = rss_kb(gateway.pid)
        fast = [100.0 * len({h for h, _ in v.frames if h in sent}) / max(1, len(sent))
                for v in viewers[:4]]
        print(f"slow viewer for {args.slow_seconds} s: {len(viewers[4].frames)} frames read; "
              f"gateway RSS {rss0} -> {rss1} kB ({rss1 - rss0:+d} kB); "
              "fast viewers: " + ", ".join(f"{d:.1f} %" for d in fast))
    finally:
        for child in reversed(children):
            child.send_signal(signal.SIGTERM)
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()


if __name__ == "__main__":
    main()
