"""An X display for whole-process tests: Xvfb, xdotool and the module's windows."""

import os
import shutil
import subprocess
import tempfile
import time


_RUNTIME_DIR = None


def runtime_dir():
    """A private XDG runtime folder (Qt wants mode 0700)."""
    global _RUNTIME_DIR
    if _RUNTIME_DIR is None:
        _RUNTIME_DIR = tempfile.mkdtemp(prefix="valmora_xdg_")
    return _RUNTIME_DIR


class SkipTest(Exception):
    pass


def require(*programs):
    missing = [p for p in programs if shutil.which(p) is None]
    if missing:
        raise SkipTest("missing programs: " + ", ".join(missing))


class XDisplay:
    """Xvfb started with -noreset, ready once the display answers."""

    def __init__(self, width=1024, height=768):
        require("Xvfb", "xdotool", "xdpyinfo")
        self.size = (width, height)
        self.proc = None
        self.display = None

    def __enter__(self):
        for number in range(90 + os.getpid() % 50, 200):
            if os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
                continue
            display = ":%d" % number
            self.proc = subprocess.Popen(
                ["Xvfb", display, "-noreset", "-nolisten", "tcp", "-screen", "0",
                 "%dx%dx24" % self.size, "-dpi", "96"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and self.proc.poll() is None:
                if subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0:
                    self.display = display
                    return self
                time.sleep(0.05)
            self.proc.kill()
            self.proc.wait()
        raise RuntimeError("Xvfb did not start")

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait()

    def env(self, extra=None):
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env.update({"DISPLAY": self.display, "QT_QPA_PLATFORM": "xcb", "LC_ALL": "C.UTF-8",
                    "XDG_RUNTIME_DIR": runtime_dir()})
        env.update(extra or {})
        return env

    def xdotool(self, *args, check=True):
        out = subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True, timeout=30)
        if check and out.returncode != 0:
            raise RuntimeError("xdotool %s: %s" % (" ".join(args), out.stderr.strip()))
        return out.stdout.strip()

    def windows(self, name_regex):
        """Visible windows whose title matches `name_regex`."""
        out = self.xdotool("search", "--onlyvisible", "--name", name_regex, check=False)
        return [w for w in out.split() if w]

    def wait_window(self, name_regex, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows(name_regex)
            if found:
                return found[0]
            time.sleep(0.05)
        raise AssertionError("no window titled %r appeared" % name_regex)

    def geometry(self, window):
        values = {}
        for line in self.xdotool("getwindowgeometry", "--shell", window).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def click(self, window, x, y):
        """Clicks at (x, y) inside `window`; with no window manager the pointer decides."""
        wx, wy, _, _ = self.geometry(window)
        self.xdotool("mousemove", str(wx + x), str(wy + y))
        time.sleep(0.05)
        self.xdotool("click", "1")

    def press_return(self, window):
        """Gives `window` the keyboard focus and presses Return (dismisses a message box)."""
        wx, wy, w, h = self.geometry(window)
        self.xdotool("mousemove", str(wx + w // 2), str(wy + h // 2))
        self.xdotool("windowfocus", window, check=False)
        time.sleep(0.1)
        self.xdotool("key", "Return")

    def screenshot(self, tool, path, rect=None):
        """The screen, or the rectangle (x, y, width, height) of it, as a PNG file."""
        subprocess.run([tool, path, *[str(v) for v in rect or ()]], env=self.env(), check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wait_exit(proc, timeout=15):
    """Waits for the module to end; returns (exit code, what it wrote on stderr)."""
    try:
        _, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError("the module did not end")
    return proc.returncode, err or ""
