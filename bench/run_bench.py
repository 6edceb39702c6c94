"""Runs the bench programs and prints one markdown table of medians with min and max.

  start-up       exec of the shipped executable to its dialog painted, and to the token
                 request received by the stand-in, beside a bare Qt dialog (under Xvfb)
  retrieval      quote reply -> line values, BMP and result file, in-process, for four
                 photo-like pictures, beside a floor of the fastest libraries
  whole process  click -> result file and the peak resident memory of the module, for the
                 4000 x 3000 PNG (a 31 MB reply), measured from outside
  idle           the module's CPU time over 10 s while its token request gets no answer
  windows        with --windows build-windows: under Wine, exec of the Windows executable
                 to its window painted beside a bare Win32 window (and one with the
                 module's controls), and the 4000 x 3000 PNG retrieval in-process beside
                 the same floor, both built for Windows
  largest        peak resident memory of the whole exchange with the largest pictures the
                 module takes (about 99 megapixels: 8-bit RGB PNG, 16-bit RGBA PNG,
                 progressive JPEG), beside the size of their reply
  wire           click -> result file on a shop's line (100 ms round trip, 20 Mbit/s,
                 bench/line_relay.py) and on a line of no length, in front of a gateway
                 that offers gzip and closes idle connections after 5 s, with a 1 MB photo
                 in the quote; beside curl with one connection and the floor (both requests
                 on a connection opened before); connections, full TLS handshakes and the
                 quote's bytes on the wire per click. Linux, and the Windows build under Wine

The start-up and whole-process parts run the shipped executable in a private network
namespace where the gateway host maps to the stand-in (as the whole-process tests do).
"""

import argparse
import json
import os
import signal
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "process"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from private_gateway import STANDIN, PrivateGateway, enter_private_namespace, new_workdir  # noqa: E402
from xsession import SkipTest, XDisplay  # noqa: E402
from line_relay import LineRelay  # noqa: E402

RECUPERER = (22 + 62, 158 + 25)
CONFIG = ("[General]\r\nVersion=1\r\nConfigurateur=vestiora\r\n[Utilisateur]\r\n"
          "Identifiant=jeanne.morel@exemple.fr\r\nMotDePasse=bench\r\n")


def summary(values):
    return statistics.median(values), min(values), max(values)


def cell(values, unit="ms"):
    if not values:
        return "—"
    med, lo, hi = summary(values)
    return "%.1f %s (%.1f–%.1f)" % (med, unit, lo, hi)


def ratio(module, floor):
    if not module or not floor:
        return "—"
    return "%.2f×" % (statistics.median(module) / statistics.median(floor))


def retrieval(build, runs, sizes):
    out = tempfile.mktemp(suffix=".json")
    subprocess.run([os.path.join(build, "bench", "retrieval_bench"), "--runs", str(runs), "--sizes", sizes,
                    "--json", out], check=True, stdout=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    with open(out) as f:
        results = json.load(f)
    os.remove(out)
    return results


def write_config(folder):
    path = os.path.join(folder, "config.ini")
    with open(path, "w", newline="") as f:
        f.write(CONFIG)
    return path


def stop(pid):
    """Ends a program paint_timer started (it is not our child: we cannot wait for it)."""
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and os.path.exists("/proc/%d" % pid):
        with open("/proc/%d/stat" % pid) as f:
            if f.read().split(") ")[1].startswith("Z"):
                break
        time.sleep(0.01)


def time_paint(timer, args, env):
    """Starts `args` under paint_timer; its JSON line: pid, exec time, ms to the 351 x 234 window painted."""
    out = subprocess.run([timer, "351", "234", "--", *args], env=env, capture_output=True, text=True,
                         check=True).stdout
    return json.loads(out)


def startup(build, gateway, x, runs):
    exe = os.path.join(build, "src", "Module_Valmora")
    timer = os.path.join(build, "bench", "paint_timer")
    bare = os.path.join(build, "bench", "bare_dialog")
    work = tempfile.mkdtemp(prefix="valmora_bench_")
    config = write_config(work)
    painted, token, floor, text_floor = [], [], [], []
    env = x.env(gateway.env())
    programs = {"module": [exe, os.path.join(work, "retour.xml"), config], "bare": [bare], "text": [bare, "--text"]}
    for _ in range(runs):
        for program, args in programs.items():
            gateway.reset()
            info = time_paint(timer, args, env)
            if program == "module":
                deadline = time.monotonic() + 10
                records = []
                while time.monotonic() < deadline and not records:
                    records = [r for r in gateway.requests() if r["path"] == "/index.php/Services/jeton"]
                    time.sleep(0.01)
                if records:
                    token.append((records[0]["time"] - info["exec_epoch"]) * 1000)
            {"module": painted, "bare": floor, "text": text_floor}[program].append(info["painted_ms"])
            stop(info["pid"])
    return painted, token, floor, text_floor


def whole_process(build, gateway, x, runs, picture="large-png", timeout=30):
    """Click -> result file and peak RSS, the real exchange with a picture of retrieval_bench
    (by default the 4000 x 3000 PNG); also returns the reply's size."""
    exe = os.path.join(build, "src", "Module_Valmora")
    work = tempfile.mkdtemp(prefix="valmora_bench_")
    reply = os.path.join(work, "reply.json")
    subprocess.run([os.path.join(build, "bench", "retrieval_bench"), "--write-reply", picture, reply],
                   check=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    reply_bytes = os.path.getsize(reply)
    click_to_file, peak = [], []
    for _ in range(runs):
        gateway.reset()
        gateway.script({
            "/recuperation": [{"body": "<Configurateur><Jeton>T</Jeton><Passerelle>vestiora</Passerelle>"
                                       "<Project>P-1042</Project></Configurateur>"}],
            "/index.php/Services/recuperation_valmora": [
                {"body_file": reply, "headers": [["Content-Type", "application/json; charset=utf-8"]]}],
        })
        result = os.path.join(work, "retour.xml")
        if os.path.exists(result):
            os.remove(result)
        proc = subprocess.Popen([exe, result, write_config(work)], env=x.env(gateway.env()),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = x.wait_window("^Veltrano - Configurateur vestiora$")
        gateway.wait_browser(1)
        time.sleep(0.3)
        x.click(window, *RECUPERER)
        clicked = time.monotonic()
        while not os.path.exists(result) and time.monotonic() - clicked < timeout:
            time.sleep(0.001)
        if not os.path.exists(result):
            proc.kill()  # a message instead of a result: the measure is void
            proc.wait()
            raise RuntimeError("no result file from the %s reply" % picture)
        click_to_file.append((time.monotonic() - clicked) * 1000)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = status
        peak.append(usage.ru_maxrss / 1024.0)
    shutil.rmtree(work, ignore_errors=True)
    return click_to_file, peak, reply_bytes


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(") ", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def idle_while_stalled(build, gateway, x, seconds=10.0):
    """Share of one core the module uses while its token request hangs, over `seconds`."""
    exe = os.path.join(build, "src", "Module_Valmora")
    work = tempfile.mkdtemp(prefix="valmora_bench_")
    gateway.reset()
    gateway.script({"/index.php/Services/jeton": [{"hang": seconds + 20}]})
    proc = subprocess.Popen([exe, os.path.join(work, "retour.xml"), write_config(work)], env=x.env(gateway.env()),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while not gateway.requests() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(1.0)  # the progress line has started
        before, started = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(seconds)
        used = cpu_seconds(proc.pid) - before
        return [100.0 * used / (time.monotonic() - started)]
    finally:
        proc.kill()
        proc.wait()


WINE = os.path.join(ROOT, "scripts", "wine")


def windows_measures(build, windows_build, gateway, x, runs):
    """Table rows of the Windows build, run under Wine."""
    rows = []
    work = tempfile.mkdtemp(prefix="valmora_bench_")
    config = write_config(work)
    timer = os.path.join(build, "bench", "paint_timer")
    programs = {"module": [WINE, os.path.join(windows_build, "src", "Module_Valmora.exe"),
                           os.path.join(work, "retour.xml"), config],
                "bare": [WINE, os.path.join(windows_build, "bench", "bare_window.exe")],
                "controls": [WINE, os.path.join(windows_build, "bench", "controls_window.exe")]}
    shown = {"module": [], "bare": [], "controls": []}
    env = x.env(gateway.env())
    for _ in range(runs):
        for program, args in programs.items():
            gateway.reset()
            info = time_paint(timer, args, env)
            shown[program].append(info["painted_ms"])
            stop(info["pid"])
            time.sleep(0.5)  # the Wine process ends after its window
    rows.append("| Windows build under Wine, start-up: exec → window painted | %s | %s (bare Win32 window) | **%s** | ≤ 1.2× |"
                % (cell(shown["module"]), cell(shown["bare"]), ratio(shown["module"], shown["bare"])))
    rows.append("| &nbsp;&nbsp;beside a Win32 window with the same controls | | %s | %s | |"
                % (cell(shown["controls"]), ratio(shown["module"], shown["controls"])))
    reply = os.path.join(work, "reply.json")
    subprocess.run([os.path.join(build, "bench", "retrieval_bench"), "--write-reply", "large-png", reply],
                   check=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    out = os.path.join(work, "windows.json")
    subprocess.run([WINE, os.path.join(windows_build, "bench", "retrieval_bench.exe"), "--runs", str(runs),
                    "--reply", reply, "png", "4000x3000 PNG", "--json", out], check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        result = json.load(f)[0]
    rows.append("| Windows build under Wine, retrieval 4000x3000 PNG (reply %.1f MB) | %s | %s | **%s** | ≤ 1.25× |"
                % (result["reply_bytes"] / 1e6, cell(result["module"]["total"]), cell(result["floor"]["total"]),
                   ratio(result["module"]["total"], result["floor"]["total"])))
    shutil.rmtree(work, ignore_errors=True)
    return rows


def largest_pictures(build, gateway, x):
    """Peak RSS of the whole exchange with each of the largest pictures, and its reply size."""
    results = []
    for picture, name in (("largest-png", "8-bit RGB PNG"), ("largest-png16a", "16-bit RGBA PNG"),
                          ("largest-pjpeg", "progressive JPEG")):
        print("  %s..." % name, file=sys.stderr)
        try:
            _, peak, reply_bytes = whole_process(build, gateway, x, 1, picture, timeout=300)
        except RuntimeError as e:
            print("  " + str(e), file=sys.stderr)
            continue
        results.append((name, reply_bytes / 1e6, peak[0]))
    return results


LINE_RTT, LINE_RATE = 0.1, 20e6
IDLE_CLOSE = 5.0  # the gateway closes a connection idle this long
USER_REACHES_BUTTON = 0.5  # from the pointer coming in to the click


class WireGateway:
    """A second stand-in that offers gzip and closes idle connections, behind two relays:
    the line and a line of no length."""

    def __init__(self, gateway):
        self.gateway = gateway
        certs = gateway.certs
        self.proc = subprocess.Popen(
            [sys.executable, STANDIN, "--cert", os.path.join(certs, "gateway.pem"), "--key",
             os.path.join(certs, "gateway.key"), "--host", "127.0.0.2", "--port", "443", "--public-host",
             gateway.host, "--gzip", "--idle-timeout", str(IDLE_CLOSE), "--watch-stdin"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.control_port = json.loads(self.proc.stdout.readline())["control_port"]
        self.relays = {"line": LineRelay(("127.0.0.3", 443), ("127.0.0.2", 443), LINE_RTT, LINE_RATE),
                       "none": LineRelay(("127.0.0.4", 443), ("127.0.0.2", 443), 0, 0)}
        self.addresses = {"line": "127.0.0.3", "none": "127.0.0.4"}

    def use(self, line):
        self.gateway.map_host(self.addresses[line])
        return self.relays[line]

    def control(self, method, path, payload=None):
        import urllib.request
        data = None if payload is None else json.dumps(payload).encode()
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.control_port, path), data=data,
                                         method=method)
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read())

    def close(self):
        for relay in self.relays.values():
            relay.close()
        self.proc.stdin.close()
        self.proc.terminate()
        self.proc.wait()
        self.gateway.map_host("127.0.0.1")


def wire_click(gateway, wire, x, command, result, reply, line):
    """One click of the module on `line`; (ms, connections, full handshakes, quote bytes)."""
    relay = wire.use(line)
    wire.control("POST", "/reset", {})
    wire.control("POST", "/script", {"routes": {
        "/recuperation": [{"body": "<Configurateur><Jeton>T</Jeton><Passerelle>vestiora</Passerelle>"
                                   "<Project>P-1042</Project></Configurateur>",
                           "encoding": "utf-8"}],
        "/index.php/Services/recuperation_valmora": [{"body_file": reply}]}})
    if os.path.exists(result):
        os.remove(result)
    gateway.reset()  # its browser log
    proc = subprocess.Popen(command, env=x.env(gateway.env()), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = x.wait_window("^Veltrano - Configurateur vestiora$", timeout=30)
        gateway.wait_browser(1, timeout=30)
        # The user spends minutes in the configurator, elsewhere: the log-in's connection is gone.
        x.xdotool("mousemove", "1", "1")
        time.sleep(IDLE_CLOSE + 1.0)
        connections_before = len(wire.control("GET", "/connections"))
        # The user comes back to the window and reaches for the button: a module may get
        # ready meanwhile, as the pointer comes in.
        wx, wy, _, _ = x.geometry(window)
        x.xdotool("mousemove", str(wx + RECUPERER[0]), str(wy + RECUPERER[1]))
        time.sleep(USER_REACHES_BUTTON)
        clicked = time.monotonic()  # before the click: on no line the module may end first
        x.xdotool("click", "1")
        while not os.path.exists(result) and time.monotonic() - clicked < 60:
            time.sleep(0.001)
        elapsed = (time.monotonic() - clicked) * 1000
        if not os.path.exists(result):
            raise RuntimeError("no result file on the %s line" % line)
        proc.wait(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    opened = wire.control("GET", "/connections")[connections_before:]
    quote = [r for r in wire.control("GET", "/requests") if r["path"].endswith("recuperation_valmora")]
    versions = sorted({c["tls"] for c in opened if c["tls"]})
    return elapsed, len(opened), sum(1 for c in opened if c["resumed"] is False), quote[-1].get("sent", 0), versions


def curl_click(gateway, reply_url, document_url, warm):
    """curl with one connection for both addresses (after a warm-up request on the same
    connection when `warm`: the floor); the two requests' time in ms."""
    urls = ([document_url] if warm else []) + [document_url, reply_url]
    out = subprocess.run(["curl", "-s", "--compressed", "--cacert", os.path.join(gateway.certs, "ca.pem"),
                          "-w", "%{time_total}\n", *sum((["-o", os.devnull, url] for url in urls), [])],
                         capture_output=True, text=True, check=True).stdout.split()
    times = [float(t) * 1000 for t in out]
    return sum(times[1:] if warm else times)


def wire(build, gateway, x, runs, windows_build=None):
    """The wire rows; `windows_build`: the Windows executable's too, under Wine."""
    work = tempfile.mkdtemp(prefix="valmora_bench_")
    reply = os.path.join(work, "reply.json")
    subprocess.run([os.path.join(build, "bench", "retrieval_bench"), "--write-reply", "photo-jpeg", reply],
                   check=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    result = os.path.join(work, "retour.xml")
    builds = {"Linux": [os.path.join(build, "src", "Module_Valmora"), result, write_config(work)]}
    if windows_build:
        builds["Windows build under Wine"] = [WINE, os.path.join(windows_build, "src", "Module_Valmora.exe"),
                                              result, write_config(work)]
    wire_gateway = WireGateway(gateway)
    rows = []
    try:
        base = "https://%s" % gateway.host
        document_url = base + "/recuperation"
        quote_url = base + "/index.php/Services/recuperation_valmora?projet=P-1042"
        for name, command in builds.items():
            module = {"line": [], "none": []}
            counts = []
            for _ in range(runs):
                for line in ("line", "none"):
                    elapsed, opened, full, sent, versions = wire_click(gateway, wire_gateway, x, command, result,
                                                                       reply, line)
                    module[line].append(elapsed)
                    if line == "line":
                        counts.append((opened, full, sent, versions))
            rows.append((name, module, counts))
        curl = {"line": [], "none": []}
        floor = {"line": [], "none": []}
        for _ in range(runs):
            for line in ("line", "none"):
                wire_gateway.use(line)
                wire_gateway.control("POST", "/script", {"routes": {
                    "/index.php/Services/recuperation_valmora": [{"body_file": reply}]}})
                curl[line].append(curl_click(gateway, quote_url, document_url, warm=False))
                floor[line].append(curl_click(gateway, quote_url, document_url, warm=True))
        reply_bytes = os.path.getsize(reply)
    finally:
        wire_gateway.close()
        shutil.rmtree(work, ignore_errors=True)
    return rows, curl, floor, reply_bytes


def wire_lines(wire_results):
    rows, curl, floor, _ = wire_results
    med = statistics.median
    lines = []
    curl_cost = med(curl["line"]) - med(curl["none"])
    floor_cost = med(floor["line"]) - med(floor["none"])
    for name, module, counts in rows:
        cost = med(module["line"]) - med(module["none"])
        opened = med([c[0] for c in counts])
        full = med([c[1] for c in counts])
        quote_ratio = med([c[2] for c in counts]) / wire_results[3] if wire_results[3] else 0
        lines.append("| Wire, %s: click → result file on the line (100 ms, 20 Mbit/s) | %s | %s (curl, one connection) "
                     "| **%s** | |" % (name, cell(module["line"]), cell(curl["line"]),
                                        ratio(module["line"], curl["line"])))
        lines.append("| &nbsp;&nbsp;on a line of no length | %s | %s | | |" % (cell(module["none"]), cell(curl["none"])))
        lines.append("| &nbsp;&nbsp;what the line costs the click | %.0f ms | %.0f ms (curl); floor %.0f ms | "
                     "%.2f× | ≤ 1× curl |" % (cost, curl_cost, floor_cost, cost / curl_cost if curl_cost else 0))
        versions = ", ".join(sorted({v for c in counts for v in c[3]}))
        lines.append("| &nbsp;&nbsp;per click: connections, full TLS handshakes, quote bytes on the wire | "
                     "%.0f, %.0f (%s), %.2f× its size | — | — | 1, 1, ≤ 0.8× |" % (opened, full, versions, quote_ratio))
    lines.append("| Wire floor: both requests on a connection opened before the click | %s | %s (no length) | | |"
                 % (cell(floor["line"]), cell(floor["none"])))
    return lines


def print_table(startup_results, retrieval_results, process_results, runs, idle_results=None,
                largest_results=None, windows_rows=(), wire_results=None):
    lines = ["| Measure | Module | Floor | Ratio | Target |", "|---|---|---|---|---|"]
    if startup_results:
        painted, token, floor, text_floor = startup_results
        lines.append("| Start-up: exec → dialog painted | %s | %s (bare Qt dialog) | **%s** | ≤ 1.15× |"
                     % (cell(painted), cell(floor), ratio(painted, floor)))
        lines.append("| &nbsp;&nbsp;beside a Qt dialog with the same labels and buttons | | %s | %s | |"
                     % (cell(text_floor), ratio(painted, text_floor)))
        lines.append("| Start-up: exec → token request received | %s | — | — | |" % cell(token))
    for result in retrieval_results:
        module, floor = result["module"], result["floor"]
        target = "≤ 1.15×" if result["input"].startswith("4000") else ""
        lines.append("| Retrieval %s (reply %.1f MB) | %s | %s | **%s** | %s |"
                     % (result["input"], result["reply_bytes"] / 1e6, cell(module["total"]), cell(floor["total"]),
                        ratio(module["total"], floor["total"]), target))
        durable = [a + b for a, b in zip(floor["total"], floor["fsync"])]
        lines.append("| &nbsp;&nbsp;floor + fsync of its BMP, as the module does | | %s | %s | |"
                     % (cell(durable), ratio(module["total"], durable)))
        lines.append("| &nbsp;&nbsp;reply text check (UTF-8) | %s | — | | |" % cell(module["body"]))
        lines.append("| &nbsp;&nbsp;JSON | %s | %s (simdjson) | %s | |"
                     % (cell(module["json"]), cell(floor["json"]), ratio(module["json"], floor["json"])))
        lines.append("| &nbsp;&nbsp;picture: base64, decode, BMP | %s | %s (base64 + %s, BMP write) | %s | |"
                     % (cell(module["picture"]), cell([a + b for a, b in zip(floor["base64"], floor["picture"])]),
                        "libpng" if "PNG" in result["input"] else "libjpeg-turbo",
                        ratio(module["picture"], [a + b for a, b in zip(floor["base64"], floor["picture"])])))
        lines.append("| &nbsp;&nbsp;result file | %s | — | | |" % cell(module["result"]))
    if process_results:
        click, peak, _ = process_results
        lines.append("| Whole process, 4000×3000 PNG: click → result file | %s | — | — | |" % cell(click))
        lines.append("| Whole process, 4000×3000 PNG: peak resident memory | %s | — | — | ≤ 133 MB |"
                     % cell(peak, "MB"))
    if idle_results:
        lines.append("| CPU while the token request stalls, over 10 s | %s | — | — | < 2 %% |" % cell(idle_results, "%"))
    lines.extend(windows_rows)
    if wire_results:
        lines.extend(wire_lines(wire_results))
    for name, reply_mb, peak_mb in largest_results or ():
        lines.append("| Whole process, 11500×8600 %s (reply %.0f MB): peak resident memory | %.1f MB | — | "
                     "reply + %.0f MB | ≤ reply + 350 MB |" % (name, reply_mb, peak_mb, peak_mb - reply_mb))
    print("\n".join(lines))
    print("\n%d runs each; medians with (min–max)." % runs)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--gateway-host", default="passerelle.valmora.fr", help="the host built into the module")
    parser.add_argument("--smoke", action="store_true", help="one run of the small pictures only")
    parser.add_argument("--windows", help="the Windows build's folder (build-windows), for the windows part")
    parser.add_argument("--parts", default="startup,retrieval,process,idle,windows,largest,wire",
                        help="which measures, comma-separated: startup, retrieval, process, idle, windows, "
                             "largest, wire")
    args = parser.parse_args()
    runs = 1 if args.smoke else args.runs
    # The module writes its support log as it would for a user, but not into this user's.
    os.environ["XDG_STATE_HOME"] = tempfile.mkdtemp(prefix="valmora_bench_state_")

    with_display = False
    if not args.smoke:
        try:
            XDisplay()
            enter_private_namespace()  # runs this script again, inside
            with_display = True
        except SkipTest as e:
            print("start-up and whole-process parts skipped: %s" % e, file=sys.stderr)

    parts = args.parts.split(",")
    retrieval_results = []
    if "retrieval" in parts:
        print("retrieval (in-process)...", file=sys.stderr)
        retrieval_results = retrieval(args.build, runs, "small" if args.smoke else "all")
    startup_results = process_results = idle_results = largest_results = wire_results = None
    windows_rows = []
    if with_display:
        gateway = PrivateGateway(args.gateway_host, new_workdir())
        try:
            with XDisplay() as x:
                if "startup" in parts:
                    print("start-up...", file=sys.stderr)
                    startup_results = startup(args.build, gateway, x, runs)
                if "process" in parts:
                    print("whole process...", file=sys.stderr)
                    process_results = whole_process(args.build, gateway, x, max(3, runs // 2))
                if "idle" in parts:
                    print("idle while stalled...", file=sys.stderr)
                    idle_results = idle_while_stalled(args.build, gateway, x)
                if "windows" in parts and args.windows:
                    print("Windows build under Wine...", file=sys.stderr)
                    windows_rows = windows_measures(args.build, args.windows, gateway, x, runs)
                if "largest" in parts:
                    print("largest pictures...", file=sys.stderr)
                    largest_results = largest_pictures(args.build, gateway, x)
                if "wire" in parts:
                    print("wire...", file=sys.stderr)
                    wire_results = wire(args.build, gateway, x, runs, args.windows)
        finally:
            gateway.close()
    print_table(startup_results, retrieval_results, process_results, runs, idle_results, largest_results,
                windows_rows, wire_results)


if __name__ == "__main__":
    main()
