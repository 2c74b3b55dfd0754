#!/usr/bin/python3
"""vorexctl view in headless Chromium, record and replay, and the Wireshark
dissector, end to end against vorex-sim.

Each case builds two private network namespaces joined by a veth link (the
host at 198.18.0.1, the sensor at 198.18.0.50), named after this process,
and removes them afterwards; nothing is sent outside them. Needs root.

usage: live_and_recorded.py CASE --vorexctl PATH --sim PATH --dissector PATH
CASE: browser | replay | dissector
"""
import argparse
import base64
import gzip
import io
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

from PIL import Image

RUN_ID = os.environ.setdefault("VOREX_LIVE_RUN", str(os.getpid()))  # the inner run keeps the outer's names
HOST, SENSOR = f"vorex-t-host-{RUN_ID}", f"vorex-t-sensor-{RUN_ID}"
HOST_IP, SENSOR_IP = "198.18.0.1", "198.18.0.50"
DATA_PORT = 50020


def sh(*words):
    subprocess.run(words, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_network():
    sh("ip", "netns", "add", HOST)
    sh("ip", "netns", "add", SENSOR)
    sh("ip", "link", "add", "vt-host", "netns", HOST, "type", "veth", "peer", "name", "vt-sensor", "netns", SENSOR)
    for ns, dev, ip in ((HOST, "vt-host", HOST_IP), (SENSOR, "vt-sensor", SENSOR_IP)):
        sh("ip", "-n", ns, "link", "set", "lo", "up")
        sh("ip", "-n", ns, "addr", "add", ip + "/24", "brd", "+", "dev", dev)
        sh("ip", "-n", ns, "link", "set", dev, "up")
    # The link carries traffic once its carrier is up (asynchronously).
    for _ in range(500):
        out = subprocess.run(["ip", "-n", HOST, "-o", "link", "show", "vt-host"], capture_output=True, text=True).stdout
        if "LOWER_UP" in out:
            return
        time.sleep(0.01)


def remove_network():
    for ns in (HOST, SENSOR):
        subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)


class Processes:
    """What a case starts: host programs run here, in the host namespace;
    the sensor's in its own."""

    def __init__(self):
        self.started = []

    def start(self, *words, sensor=False, **kw):
        p = subprocess.Popen((["ip", "netns", "exec", SENSOR] if sensor else []) + list(words), **kw)
        self.started.append(p)
        return p

    def run(self, *words, timeout=60, **kw):
        return subprocess.run(list(words), capture_output=True, timeout=timeout, **kw)

    def close(self):
        for p in reversed(self.started):
            if p.poll() is None:
                p.send_signal(signal.SIGINT)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.started.clear()


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)
    return condition


def read_line_matching(stream, pattern, limit=20):
    """The first line of a child's output that matches, within `limit` s."""
    give_up = time.monotonic() + limit
    while time.monotonic() < give_up:
        line = stream.readline()
        if not line:
            break
        m = re.search(pattern, line)
        if m:
            return m
    return None


def start_sim(net, *extra):
    sim = net.start(args.sim, "--ip", SENSOR_IP, "--mask", "255.255.255.0", *extra, sensor=True,
                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if not read_line_matching(sim.stdout, r"vorex-sim: sensor serial"):
        raise SystemExit("vorex-sim did not start")
    return sim


def stop(p):
    p.send_signal(signal.SIGINT)
    out, _ = p.communicate(timeout=20)
    return p.returncode, out


# --- browser ---------------------------------------------------------------------------


class WebDriver:
    """The few WebDriver calls the test needs, over chromedriver's HTTP."""

    def __init__(self, port, profile_dir):
        self.base = f"http://127.0.0.1:{port}"
        options = {"binary": "/usr/bin/chromium",
                   "args": ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--force-color-profile=srgb", "--window-size=1400,1100", "--user-data-dir=" + profile_dir]}
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        data = json.dumps(body if body is not None else {}).encode() if method == "POST" else None
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=60) as r:
            return json.loads(r.read())["value"]

    def s(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def script(self, code, *arguments):
        return self.s("POST", "/execute/sync", {"script": code, "args": list(arguments)})

    def element(self, css):
        found = self.s("POST", "/element", {"using": "css selector", "value": css})
        return next(iter(found.values()))

    def wait_for(self, code, limit=30):
        give_up = time.monotonic() + limit
        while time.monotonic() < give_up:
            value = self.script(code)
            if value:
                return value
            time.sleep(0.1)
        return None

    def quit(self):
        try:
            self.s("DELETE", "")
        except (urllib.error.URLError, OSError):
            pass


def http_status(method, url):
    req = urllib.request.Request(url, data=b"x" if method != "GET" else None, method=method)
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            return r.status
    except urllib.error.HTTPError as e:
        return e.code
    except (urllib.error.URLError, OSError):
        return 0


def case_browser(net, scratch):
    start_sim(net, "--rate", "200")
    reference = os.path.join(scratch, "reference.pgm")
    image = net.run(args.vorexctl, "image", "--out", reference)
    check(image.returncode == 0, "vorexctl image fetched the reference picture")
    truth = open(reference, "rb").read()[len(b"P5\n648 488\n255\n"):]

    view = net.start(args.vorexctl, "view", "--port", "0", stdout=subprocess.PIPE, text=True)
    m = read_line_matching(view.stdout, r"http://127\.0\.0\.1:(\d+)/")
    if not check(m is not None, "view printed where it listens"):
        return
    url = f"http://127.0.0.1:{m.group(1)}/"
    # Read-only: nothing but GET is answered.
    check(http_status("POST", url + "profile") == 405, "POST is refused")
    check(http_status("GET", url + "device") == 200, "the device record is served")

    driver_port = 9515  # a fixed port is safe inside the private namespace
    net.start("/usr/bin/chromedriver", f"--port={driver_port}", stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL)
    for _ in range(300):
        if http_status("GET", f"http://127.0.0.1:{driver_port}/status") == 200:
            break
        time.sleep(0.1)
    browser = WebDriver(driver_port, os.path.join(scratch, "chromium-profile"))
    try:
        browser.s("POST", "/url", {"url": url})
        drawn = browser.wait_for("const n = +document.body.dataset.drawn || 0; return n >= 30 ? n : 0;")
        check(drawn is not None and drawn >= 30, f"the page drew 30 profiles (drew {drawn})")
        title = browser.wait_for("return document.getElementById('title').textContent.includes('1001') && "
                                 "document.getElementById('title').textContent;")
        check(title and SENSOR_IP in title, f"the device record is shown: {title}")
        figures = browser.wait_for("const t = id => document.getElementById(id).textContent;"
                                   "return +t('received') > 0 && [t('rate'), t('points'), t('malformed')];")
        check(figures and float(figures[0]) > 0 and int(figures[1]) > 1000 and figures[2] == "0",
              f"the running figures are shown: {figures}")

        shot = base64.b64decode(browser.s("GET", f"/element/{browser.element('#plot')}/screenshot"))
        plot = Image.open(io.BytesIO(shot)).convert("RGB")
        check(plot.size == (802, 502), f"the plot is 800 x 500 inside its border ({plot.size})")
        inside = plot.crop((1 + 81, 1 + 41, 1 + 800 - 25, 1 + 500 - 61))  # within the axes
        marks = sum(1 for r, g, b in inside.getdata() if b > r + 60 and b > g + 40)
        print(f"drew {drawn} profiles, {marks} point pixels, figures {figures}")
        check(marks > 1000, f"profile points drawn in the plot area ({marks} point pixels)")

        # The waterfall beside it fills with the profiles as rows: the
        # simulator's box (nearer, bright) over the conveyor (far, dark).
        fallen = browser.wait_for("const n = +document.body.dataset.fallen || 0; return n >= 300 ? n : 0;")
        check(fallen is not None, f"the waterfall took 300 profiles (last {fallen})")
        rows = browser.script(
            "const c = document.getElementById('fall'); const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
            "const bright = [], dark = []; for (let i = 0; i < d.length; i += 4) {"
            "  if (d[i + 1] > 180) bright.push(i); else if (d[i + 1] < 60) dark.push(i); }"
            "return [c.width, c.height, bright.length, dark.length];")
        check(rows[:2] == [400, 300], f"the waterfall is 400 x 300 cells ({rows[0]} x {rows[1]})")
        check(rows[2] > 5000 and rows[3] > 5000, f"it shows near and far surfaces ({rows[2]} bright, {rows[3]} dark pixels)")

        browser.s("POST", f"/element/{browser.element('#image-button')}/click", {})
        check(browser.wait_for("return document.getElementById('camera').dataset.loaded === '1';") is not None,
              "the image button brought an image")
        grey = browser.script(
            "const img = document.getElementById('camera'); const c = document.createElement('canvas');"
            "c.width = img.naturalWidth; c.height = img.naturalHeight; const g = c.getContext('2d');"
            "g.drawImage(img, 0, 0); const d = g.getImageData(0, 0, c.width, c.height).data;"
            "const out = new Array(c.width * c.height); for (let i = 0; i < out.length; ++i) out[i] = d[4 * i];"
            "return [c.width, c.height, out];")
        check(grey[0] == 648 and grey[1] == 488, f"the image is 648 x 488 ({grey[0]} x {grey[1]})")
        check(bytes(grey[2]) == truth, "the page's image is the simulator's, pixel for pixel")

        # Clients that ask and vanish hold nothing up; a second page
        # watches beside the first.
        port = int(m.group(1))
        for _ in range(20):
            with socket.create_connection(("127.0.0.1", port)) as gone:
                gone.sendall(b"GET /profile?after=0 HTTP/1.1\r\nHost: x\r\n\r\n")
        first_page = browser.s("GET", "/window")
        browser.s("POST", "/window/new", {"type": "tab"})
        second_page = next(h for h in browser.s("GET", "/window/handles") if h != first_page)
        browser.s("POST", "/window", {"handle": second_page})
        browser.s("POST", "/url", {"url": url})
        check(browser.wait_for("return (+document.body.dataset.drawn || 0) >= 10;") is not None,
              "a second page draws profiles too")
        browser.s("POST", "/window", {"handle": first_page})
        before = browser.script("return +document.body.dataset.drawn;")
        check(browser.wait_for(f"return +document.body.dataset.drawn >= {before} + 10;") is not None,
              "the first page goes on drawing")
    finally:
        browser.quit()
    status, out = stop(view)
    check(status == 0, f"Ctrl-C stops the viewer cleanly (status {status})")
    check("stopped after" in out, "the viewer says what it received: " + out.strip())


# --- the viewer's guards ---------------------------------------------------------------

GUARD_HEADERS = {"cross-origin-resource-policy": "same-origin", "x-content-type-options": "nosniff",
                 "cache-control": "no-store"}


def start_view(net, *extra):
    view = net.start(args.vorexctl, "view", "--port", "0", *extra, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                     text=True)
    m = read_line_matching(view.stdout, r"http://[\d.]+:(\d+)/")
    if m is None:
        raise SystemExit("view did not start: " + view.stderr.read())
    return view, int(m.group(1))


def exchange(port, head, body=b"", host="127.0.0.1"):
    """Sends a request with the start of its body, reads the answer's status
    and headers (status 0 when none came), then offers the rest of the body,
    as a client that goes on sending would."""
    first = 256 << 10
    answer = b""
    with socket.create_connection((host, port), timeout=20) as s:
        try:
            s.sendall(head + body[:first])
            while b"\r\n\r\n" not in answer:
                got = s.recv(65536)
                if not got:
                    break
                answer += got
            s.sendall(body[first:])
        except OSError:
            pass
    lines = answer.split(b"\r\n\r\n")[0].decode("latin-1").split("\r\n")
    m = re.match(r"HTTP/1\.1 (\d+)", lines[0])
    headers = {k.strip().lower(): v.strip() for k, v in (l.split(":", 1) for l in lines[1:] if ":" in l)}
    return (int(m.group(1)) if m else 0), headers


def get(port, path, host_header, *more):
    head = f"GET {path} HTTP/1.1\r\nHost: {host_header}\r\n" + "".join(m + "\r\n" for m in more) + "Connection: close\r\n\r\n"
    return exchange(port, head.encode())


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmHWM:\s+(\d+) kB", f.read()).group(1))


def case_view_guards(net, scratch):
    start_sim(net, "--rate", "50")
    view, port = start_view(net, "--allow-host", "viewer.test")
    here = f"127.0.0.1:{port}"

    # Bodies are never read, whatever they are or claim to be.
    before = peak_kib(view.pid)
    big = bytes(64 << 20)
    gzip_bomb = gzip.compress(bytes(256 << 20), compresslevel=1)  # 256 MiB once unpacked
    for method, extra, body, status in (
            ("POST", "Content-Type: text/plain", big, 405),
            ("DELETE", "Content-Type: application/octet-stream", big, 405),
            ("POST", "Content-Encoding: gzip", gzip_bomb, 405),
            ("GET", "Content-Type: text/plain", big, 413)):
        head = f"{method} /profile HTTP/1.1\r\nHost: {here}\r\n{extra}\r\nContent-Length: {len(body)}\r\n\r\n"
        got, headers = exchange(port, head.encode(), body)
        check(got == status, f"{method} with a {len(body)}-byte body ({extra}): {status} (got {got})")
    grown = peak_kib(view.pid) - before
    check(grown < 16 << 10, f"the viewer's memory stays flat under large bodies (peak grew {grown} KiB)")
    status, _ = get(port, "/device", here, *[f"X-{i}: {'a' * 100}" for i in range(200)])
    check(status in (400, 431), f"a 20 KiB head is refused ({status})")
    status, _ = get(port, "/device", here, *[f"X-{i}: a" for i in range(40)])
    check(status == 431, f"40 header lines are refused ({status})")

    # Only the names the viewer is known by; the guard headers on every answer.
    for host_header, path, status in ((here, "/device", 200), (f"localhost:{port}", "/device", 200),
                                      ("viewer.test", "/device", 200), (f"evil.example:{port}", "/device", 403),
                                      ("", "/device", 403), (here, "/nothing", 404)):
        got, headers = get(port, path, host_header)
        check(got == status, f"Host '{host_header}' {path}: {status} (got {got})")
        check(all(headers.get(k) == v for k, v in GUARD_HEADERS.items()), f"guard headers on the {got}: {headers}")
    status, _ = get(port, "/image.png", here, "Sec-Fetch-Site: cross-site")
    check(status == 403, f"another site's page cannot have the image fetched ({status})")

    # 50 clients that connect and hold on, idle or sending a byte now and
    # then, each from its own address: a plain request is still answered,
    # while they go on.
    stop_slow = threading.Event()

    def hold_on(source, trickle):
        while not stop_slow.is_set():
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(source, 0)) as s:
                    if trickle:
                        s.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\n")
                    while not stop_slow.is_set():
                        if trickle:
                            s.sendall(b"X")
                        if stop_slow.wait(0.3) or (not trickle and s.recv(1) == b""):
                            break
            except OSError:
                stop_slow.wait(0.05)

    slow = [threading.Thread(target=hold_on, args=(f"127.0.0.{2 + i}", i % 2 == 0)) for i in range(50)]
    for t in slow:
        t.start()
    time.sleep(1)
    started = time.monotonic()
    status = http_status("GET", f"http://{here}/device")
    took = time.monotonic() - started
    still_going = all(t.is_alive() for t in slow)
    stop_slow.set()
    for t in slow:
        t.join(10)
    print(f"a plain GET took {took:.3f} s beside 50 slow clients")
    check(status == 200 and still_going, f"a plain GET is answered while 50 slow clients hold on ({status})")
    status, out = stop(view)
    check(status == 0, f"the viewer stops cleanly ({status})")

    # Listening beyond loopback: a warning, and with a token only a browser
    # that brings it is answered; the address bar loses it to a cookie.
    view, port = start_view(net, "--bind", HOST_IP, "--token", "s3cret-token")
    there = f"{HOST_IP}:{port}"
    warning = view.stderr.readline()
    check(warning.startswith(f"vorexctl view: warning: {HOST_IP} is reachable from other hosts"), "warning: " + warning)
    status, _ = exchange(port, f"GET /device HTTP/1.1\r\nHost: {there}\r\n\r\n".encode(), host=HOST_IP)
    check(status == 403, f"no token, no answer ({status})")
    status, headers = exchange(port, f"GET /?token=s3cret-token HTTP/1.1\r\nHost: {there}\r\n\r\n".encode(), host=HOST_IP)
    cookie = headers.get("set-cookie", "").split(";")[0]
    check(status == 303 and headers.get("location") == "/" and cookie == "vorex_view_token=s3cret-token",
          f"the token becomes a cookie ({status}, {headers})")
    status, _ = exchange(port, f"GET /device HTTP/1.1\r\nHost: {there}\r\nCookie: {cookie}\r\n\r\n".encode(),
                         host=HOST_IP)
    check(status == 200, f"the cookie is enough ({status})")
    stop(view)


# --- record and replay -----------------------------------------------------------------

def udp_payloads(pcap, port):
    """The UDP payloads to `port` in a capture, reassembled, read by tshark
    (no dissector): the test's own view of what was recorded."""
    out = subprocess.run(["tshark", "-n", "-r", pcap, "-Y", f"udp.dstport == {port}", "-T", "fields", "-e",
                          "udp.payload"], capture_output=True, text=True, check=True).stdout
    return [bytes.fromhex(line.replace(":", "")) for line in out.split()]


def decode_points(datagram):
    """Points of a pair-type profile, as the library defines them."""
    z_scale, x_scale, divisor = struct.unpack_from("<HHH", datagram, 28)
    count = {17: 648, 19: 1296}[datagram[0]]
    points = []
    for i in range(count):
        x, z = struct.unpack_from("<hH", datagram, 64 + 4 * i)
        if z:
            points.append([(x * x_scale) / divisor, (z_scale * z) / divisor])
    return points


def case_replay(net, scratch):
    recording = os.path.join(scratch, "recorded.pcap")
    # Without capture privilege: one clear line and status 1. Root keeps
    # everything but the two capabilities that capturing takes; another user
    # could not even load vorexctl from a checkout inside a private directory
    # (mktemp -d, a home of mode 0700).
    start_sim(net, "--rate", "50", "--serial", "4242", "--data-port", str(DATA_PORT))
    no_capture = "-net_raw,-net_admin"
    unprivileged = net.run("setpriv", "--inh-caps=" + no_capture, "--bounding-set=" + no_capture, args.vorexctl,
                           "record", "--out", os.path.join(scratch, "denied.pcap"), "--count", "1", text=True)
    check(unprivileged.returncode == 1, f"record without privilege exits with 1 ({unprivileged.returncode})")
    check(re.fullmatch(r"vorexctl: capturing on vt-host needs the privilege to capture \([^\n]*\)\n",
                       unprivileged.stderr) is not None, "one clear line: " + unprivileged.stderr)

    rec = net.run(args.vorexctl, "record", "--out", recording, "--count", "80", text=True)
    check(rec.returncode == 0, "record: " + rec.stderr)
    m = re.match(r".*: (\d+) packets \(80 profiles\) from sensor 4242 on vt-host", rec.stdout)
    check(m is not None, "record reports its count: " + rec.stdout)
    dump = subprocess.run(["tcpdump", "-n", "-r", recording], capture_output=True, text=True)
    check(dump.returncode == 0 and m and len(dump.stdout.splitlines()) == int(m.group(1)),
          f"tcpdump reads every packet recorded ({len(dump.stdout.splitlines())}): {dump.stderr[-200:]}")
    mode = os.stat(recording).st_mode & 0o777
    check(mode == 0o600, f"the recording, service channel and all, is its owner's only ({mode:o})")
    # A link planted where the recording goes is not followed.
    target, link = os.path.join(scratch, "target"), os.path.join(scratch, "link.pcap")
    open(target, "w").close()
    os.symlink(target, link)
    linked = net.run(args.vorexctl, "record", "--out", link, "--count", "1", text=True)
    check(linked.returncode == 1 and "is a symbolic link" in linked.stderr and os.path.getsize(target) == 0,
          f"record refuses to write through a symbolic link ({linked.returncode}: {linked.stderr.strip()})")
    # Run through sudo, it records as the user who ran sudo.
    theirs = os.path.join(scratch, "theirs")
    os.mkdir(theirs)
    os.chown(theirs, 65534, 65534)
    mine = os.path.join(theirs, "r.pcap")
    as_user = net.run(args.vorexctl, "record", "--out", mine, "--count", "1", text=True,
                      env=dict(os.environ, SUDO_UID="65534", SUDO_GID="65534"))
    owner = os.stat(mine) if os.path.exists(mine) else None
    check(as_user.returncode == 0 and owner and (owner.st_uid, owner.st_gid) == (65534, 65534),
          f"record gives up root after opening the capture ({as_user.returncode}: {as_user.stderr.strip()})")
    net.close()
    recorded = udp_payloads(recording, DATA_PORT)
    check(len(recorded) == 80, f"80 profile datagrams recorded whole ({len(recorded)})")
    check(len({bytes(r[64:]) for r in recorded}) == len(recorded), "the recorded profiles differ from one another")

    # The replaying sensor is told nothing (at twice the speed, 100 a
    # second, well within what stream takes on a busy machine): serial and data port come from
    # the recording's discovery reply.
    replay = net.start(args.sim, "--replay", recording, "--loop", "--speed", "2", sensor=True, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True)
    check(read_line_matching(replay.stdout, r"vorex-sim: sensor serial 4242 at 198\.18\.0\.50:\d+, profiles to host "
                                            f"port {DATA_PORT}") is not None, "the replay takes the recorded record")
    # The host finds it by the recorded serial.
    stream = net.run(args.vorexctl, "stream", "--serial", "4242", "--count", "100", "--format", "json", text=True)
    check(stream.returncode == 0, "stream of the replay: " + stream.stderr)
    if not check(replay.poll() is None, "the replaying sensor still runs"):
        print(replay.stdout.read(), file=sys.stderr)
    got = [json.loads(line)["points"] for line in stream.stdout.splitlines()]
    want = [decode_points(r) for r in recorded]
    # The replay began before stream listened: it joins the loop somewhere,
    # and from there every profile follows in recorded order.
    start = next((i for i, w in enumerate(want) if got and w == got[0]), None)
    check(start is not None, "the first streamed profile is one of the recorded")
    if start is not None:
        bad = [k for k, g in enumerate(got) if g != want[(start + k) % len(want)]]
        check(len(got) == 100 and not bad, f"100 streamed profiles equal the recorded ones in order (differ: {bad[:5]})")


# --- dissector ---------------------------------------------------------------------------

GROUPS = ["general", "sysmon", "tavikcompat", "sensor", "roi", "network", "stream", "image_processing", "laser",
          "inputs", "outputs"]


def expected_command(payload):
    cls, code = payload[10], payload[11]
    if cls == 0x50:
        return {0x02: "read_params", 0x03: "write_params", 0x10: "flush_params", 0x12: "reboot"}[code]
    if cls == 0x53 and code == 0x10:
        return "get_image"
    if cls == 0x5A:
        return {0x20: "firmware_data", 0x21: "firmware_check", 0x22: "flush_firmware_image"}[code]
    if cls == 0x5E:
        if code == 0:
            return "discovery"
        if 1 <= code <= 22:
            return ("read_" if code % 2 else "write_") + GROUPS[(code - 1) // 2] + "_params"
        return {0x17: "read_log", 0x18: "read_log_record_count"}[code]
    raise KeyError(f"class {cls:#x} code {code:#x}")


def case_dissector(net, scratch):
    start_sim(net, "--rate", "50", "--commit-delay", "200")
    capture = os.path.join(scratch, "session.pcap")
    record = net.start(args.vorexctl, "record", "--out", capture, "--service", stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True)
    check(read_line_matching(record.stderr, r"recording .* \(Ctrl-C stops\)") is not None, "record started")
    firmware = os.path.join(scratch, "firmware.bin")
    with open(firmware, "wb") as out:
        out.write(bytes((i * 7) & 0xFF for i in range(3000)))
    laser = os.path.join(scratch, "laser.hex")
    steps = [["search"], ["params", "get", "--group", "laser", "--hex", "--out", laser],
             ["params", "set", "--group", "laser", "--hex", "--in", laser], ["image", "--out",
             os.path.join(scratch, "image.png")], ["firmware", "upload", firmware, "--commit"],
             ["log", "--count", "3"], ["stream", "--count", "5", "--out", os.path.join(scratch, "p.csv")]]
    for step in steps:
        r = net.run(args.vorexctl, *step, text=True)
        check(r.returncode == 0, f"vorexctl {' '.join(step)}: {r.stderr}")
    status, _ = stop(record)
    check(status == 0, "record stops on Ctrl-C")

    fields = ["frame.number", "udp.srcport", "udp.dstport", "udp.payload", "vorex.command", "vorex.role",
              "vorex_profile.data_type"]
    out = subprocess.run(["tshark", "-n", "-X", "lua_script:" + args.dissector, "-r", capture, "-T", "fields",
                          "-E", "separator=/t", "-E", "occurrence=f"] + sum([["-e", f] for f in fields], []),
                         capture_output=True, text=True)
    check(out.returncode == 0 and "Lua" not in out.stderr, "tshark loads the dissector: " + out.stderr[:300])
    named = set()
    roles = set()
    packets = 0
    for line in out.stdout.splitlines():
        cells = dict(zip(fields, line.split("\t")))
        if not cells.get("udp.payload"):
            continue  # a fragment of a larger datagram
        packets += 1
        payload = bytes.fromhex(cells["udp.payload"].replace(":", ""))
        if DATA_PORT in (int(cells["udp.srcport"]), int(cells["udp.dstport"])):
            check(cells.get("vorex_profile.data_type") == str(payload[0]),
                  f"frame {cells['frame.number']}: profile type {payload[0]}, got {cells.get('vorex_profile.data_type')}")
            named.add("profile")
            continue
        want = expected_command(payload)
        check(cells.get("vorex.command") == want, f"frame {cells['frame.number']}: {want}, got {cells.get('vorex.command')}")
        named.add(want)
        roles.add(cells.get("vorex.role", "").split(",")[0])
    print(f"{packets} datagrams; commands: {' '.join(sorted(named))}; roles: {' '.join(sorted(roles))}")
    check(packets > 100, f"the capture holds the session ({packets} datagrams)")
    scripted = {"discovery", "read_laser_params", "write_laser_params", "get_image", "firmware_data", "firmware_check",
                "flush_firmware_image", "read_log_record_count", "read_log", "profile"}
    check(scripted <= named, f"every scripted command is in the capture: missing {scripted - named}")
    check({"request", "reply", "acknowledgement"} <= roles, f"requests, replies and acknowledgements: {roles}")


parser = argparse.ArgumentParser()
parser.add_argument("case", choices=["browser", "view_guards", "replay", "dissector"])
parser.add_argument("--vorexctl", required=True)
parser.add_argument("--sim", required=True)
parser.add_argument("--dissector", required=True)
parser.add_argument("--inside", help=argparse.SUPPRESS)  # the scratch folder, once in the host namespace
args = parser.parse_args()

if not args.inside:
    # Build the network, then run the case again inside the host namespace.
    scratch = tempfile.mkdtemp(prefix="vorex-live-")
    os.chmod(scratch, 0o755)
    try:
        make_network()
        inner = subprocess.run(["ip", "netns", "exec", HOST, sys.executable, os.path.abspath(__file__)] + sys.argv[1:] +
                               ["--inside", scratch], timeout=600)
        status = inner.returncode
    finally:
        remove_network()
        shutil.rmtree(scratch, ignore_errors=True)
    sys.exit(status)

processes = Processes()
try:
    {"browser": case_browser, "view_guards": case_view_guards, "replay": case_replay, "dissector": case_dissector}[args.case](processes, args.inside)
finally:
    processes.close()
print(f"{args.case}: {len(failures)} failed checks")
sys.exit(1 if failures else 0)
