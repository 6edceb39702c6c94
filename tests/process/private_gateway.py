"""The shipped executable against the stand-in gateway, with nothing of the machine changed.

The test re-runs itself inside a private network and mount namespace, where the built-in
gateway host resolves to 127.0.0.1 (a private /etc/hosts is bind-mounted) and the
stand-in listens on port 443 with a certificate of the test CA. A fake `xdg-open`
records what the module hands to the browser and can play the user's part.
"""

import json
import os
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

from xsession import SkipTest, XDisplay, require

HERE = os.path.dirname(os.path.abspath(__file__))
STANDIN = os.path.join(HERE, "..", "gateway_standin", "standin.py")
MAKE_CERTS = os.path.join(HERE, "..", "gateway_standin", "make_certs.sh")

FAKE_BROWSER = r'''#!/usr/bin/env python3
# Stands in for xdg-open: records the address and, when asked, prices a line on the
# configurator page as a user would.
import json, os, ssl, sys, urllib.parse, urllib.request
url = sys.argv[1]
with open(os.environ["VALMORA_BROWSER_LOG"], "a") as log:
    log.write(url + "\n")
choices = os.environ.get("VALMORA_PLAY_USER")
if choices and url.startswith(("http://", "https://")):
    context = ssl.create_default_context(cafile=os.environ["SSL_CERT_FILE"])
    page = urllib.request.urlopen(url, context=context, timeout=10).read()
    parts = urllib.parse.urlsplit(url)
    query = dict(urllib.parse.parse_qsl(parts.query))
    query.update(json.loads(choices))
    priced = urllib.parse.urlunsplit((parts.scheme, parts.netloc, "/chiffrer", urllib.parse.urlencode(query), ""))
    urllib.request.urlopen(priced, context=context, timeout=10).read()
    with open(os.environ["VALMORA_BROWSER_LOG"], "a") as log:
        log.write("priced\n")
'''


def install_fake_browser(folder):
    """Writes the fake `xdg-open` into `folder` (to be put first in PATH)."""
    os.makedirs(folder, exist_ok=True)
    browser = os.path.join(folder, "xdg-open")
    with open(browser, "w") as f:
        f.write(FAKE_BROWSER)
    os.chmod(browser, 0o755)


# What runs the module: nothing for the Linux build, Wine for the Windows one (--launcher).
LAUNCHER = []


def module_command(exe, *args):
    """The command line that starts the module `exe` with `args`."""
    return [*LAUNCHER, exe, *args]


def host_path(path):
    """A path as the module writes it: Wine sees the Linux root as drive Z:."""
    if LAUNCHER and path.startswith("/"):
        return "Z:" + path.replace("/", "\\")
    return path


_WINE_LOCAL_APPDATA = []
LOCAL_APPDATA_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


def wine_path(windows_path):
    """The Linux path of a Windows path under the launcher's Wine."""
    out = subprocess.run([*LAUNCHER, "winepath", "-u", windows_path], capture_output=True, text=True, check=True)
    return out.stdout.strip()


def wine_local_appdata():
    """The Local AppData folder of the launcher's Wine prefix, as a Linux path."""
    if not _WINE_LOCAL_APPDATA:
        out = subprocess.run([*LAUNCHER, "cmd", "/c", "echo %LOCALAPPDATA%"], capture_output=True, text=True,
                             check=True)
        _WINE_LOCAL_APPDATA.append(wine_path(out.stdout.strip()))
    return _WINE_LOCAL_APPDATA[0]


class RedirectedLocalAppData:
    """Under Wine, the profile's Local AppData redirected to `windows_path` as a shop's IT
    does it (User Shell Folders), for the time of a `with` block."""

    def __init__(self, windows_path):
        self.windows_path = windows_path

    def reg(self, *args):
        subprocess.run([*LAUNCHER, "reg", *args], capture_output=True, check=True)

    def __enter__(self):
        self.reg("add", LOCAL_APPDATA_KEY, "/v", "Local AppData", "/t", "REG_EXPAND_SZ", "/d", self.windows_path, "/f")
        return wine_path(self.windows_path)

    def __exit__(self, *exc):
        self.reg("delete", LOCAL_APPDATA_KEY, "/v", "Local AppData", "/f")


class SupportLog:
    """The module's support log as a test reads it. Linux: in a folder of the test's own
    (XDG_STATE_HOME, given to the module by env()). Wine: where Windows puts it, in the
    prefix's Local AppData, shared by the tests (they run one after another): only what
    was written since mark() is read."""

    NAME = os.path.join("Valmora", "Module_Valmora.log")

    def __init__(self, workdir, folder=None):
        self.state = folder or os.path.join(workdir, "etat")
        self.path = os.path.join(wine_local_appdata() if LAUNCHER and folder is None else self.state, self.NAME)
        self.mark()

    def env(self):
        return {} if LAUNCHER else {"XDG_STATE_HOME": self.state}

    def mark(self):
        self.start = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def events(self):
        """The events written since mark(), without their time and process id."""
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            data = f.read()
        data = data[self.start:] if len(data) >= self.start else data  # moved aside meanwhile: all of it
        lines = data.decode("utf-8").splitlines()
        return [line.split("] ", 1)[1] for line in lines if "] " in line]


def password_forms(password):
    """Lower-case forms of a password a server may echo: as typed, percent-encoded, '+' for a space."""
    return [form.lower() for form in (password, urllib.parse.quote(password, safe=""),
                                      urllib.parse.quote_plus(password))]


def one_line(message):
    """A message as the support log writes it."""
    return " / ".join(message.splitlines())


def start_whole_process_tests(parser, needs=()):
    """Parses the options and re-runs the script inside the private namespace; exits with
    77 (skipped) when Xvfb, xdotool, `needs` or namespaces are missing. Returns the
    options and the arguments for unittest.main."""
    parser.add_argument("--launcher", default="", help="program that runs the module, e.g. scripts/wine")
    args, rest = parser.parse_known_args()
    LAUNCHER[:] = shlex.split(args.launcher)
    WholeProcessTestCase.gateway_host = getattr(args, "gateway_host", None)
    try:
        require("Xvfb", "xdotool", "xdpyinfo", *needs)
        enter_private_namespace()
    except SkipTest as e:
        print("SKIPPED:", e)
        sys.exit(77)
    return args, [sys.argv[0], "-v", *rest]


def enter_private_namespace():
    """Re-runs the current script inside a private network and mount namespace."""
    if os.environ.get("VALMORA_PRIVATE_NS") == "1":
        return
    if shutil.which("unshare") is None:
        raise SkipTest("unshare is missing")
    base = ["unshare", "--net", "--mount", "--fork"]
    if os.geteuid() != 0:
        base = ["unshare", "--user", "--map-root-user", "--net", "--mount", "--fork"]
    probe = subprocess.run(base + ["true"], capture_output=True)
    if probe.returncode != 0:
        raise SkipTest("private namespaces are not permitted here: " + probe.stderr.decode().strip())
    env = dict(os.environ, VALMORA_PRIVATE_NS="1")
    os.execvpe(base[0], base + [sys.executable] + sys.argv, env)


class PrivateGateway:
    """Inside the namespace: the gateway host mapped to 127.0.0.1 and the stand-in on 443."""

    def __init__(self, gateway_host, workdir, http_page=False):
        self.host = gateway_host
        self.workdir = workdir
        self.certs = os.path.join(workdir, "certs")
        subprocess.run([MAKE_CERTS, self.certs, gateway_host], check=True)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        self.hosts = os.path.join(workdir, "hosts")
        self.map_host("127.0.0.1")
        subprocess.run(["mount", "--bind", self.hosts, "/etc/hosts"], check=True)

        self.bin = os.path.join(workdir, "bin")
        install_fake_browser(self.bin)
        self.browser_log = os.path.join(workdir, "browser.log")

        args = [sys.executable, STANDIN, "--cert", os.path.join(self.certs, "gateway.pem"),
                "--key", os.path.join(self.certs, "gateway.key"), "--port", "443", "--public-host", gateway_host,
                "--watch-stdin"]
        if http_page:
            args.append("--http-page")
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.ports = json.loads(self.proc.stdout.readline())

    def map_host(self, address):
        """Points the gateway host at `address` (None: the name does not resolve)."""
        # Rewritten in place: /etc/hosts is a bind mount of this very file.
        with open(self.hosts, "w") as f:
            f.write("127.0.0.1 localhost\n::1 localhost\n")
            if address is not None:
                f.write("%s %s\n" % (address, self.host))

    def close(self):
        self.proc.stdin.close()
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()

    def env(self, play_user=None):
        """Environment for the module: the test CA, the fake browser, no proxy."""
        env = {
            "SSL_CERT_FILE": os.path.join(self.certs, "ca.pem"),
            "PATH": self.bin + os.pathsep + os.environ.get("PATH", ""),
            "VALMORA_BROWSER_LOG": self.browser_log,
        }
        if play_user is not None:
            env["VALMORA_PLAY_USER"] = json.dumps(play_user)
        return env

    def control(self, method, path, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.ports["control_port"], path),
                                         data=data, method=method)
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read())

    def script(self, routes):
        self.control("POST", "/script", {"routes": routes})

    def reset(self):
        self.control("POST", "/reset", {})
        if os.path.exists(self.browser_log):
            os.remove(self.browser_log)

    def requests(self):
        return self.control("GET", "/requests")

    def browser_lines(self):
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log) as f:
            return [line.rstrip("\n") for line in f]

    def wait_browser(self, line_count=1, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            lines = self.browser_lines()
            if len(lines) >= line_count:
                return lines
            time.sleep(0.05)
        raise AssertionError("the browser was not opened (log: %r)" % self.browser_lines())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.05)
    raise AssertionError("port %d does not answer" % port)


class WholeProcessTestCase(unittest.TestCase):
    """Tests that share one stand-in gateway on the built-in host and one X display."""

    gateway_host = None  # set by the script from its options

    @classmethod
    def setUpClass(cls):
        cls.gateway = PrivateGateway(cls.gateway_host, new_workdir())
        cls.x = XDisplay().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.x.__exit__(None, None, None)
        cls.gateway.close()


def new_workdir():
    return tempfile.mkdtemp(prefix="valmora_process_")
