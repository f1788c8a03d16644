#!/usr/bin/env python3
"""End-to-end scenarios: the built program under Xvfb with a window manager, driven by real X
input (key presses and releases, mouse, the window manager's close and minimise), read from
outside (window list, geometry, screen pixels, the settings store, the process's exit).

    e2e.py --program PATH --store-tool PATH --list
    e2e.py --program PATH --store-tool PATH SCENARIO

Each scenario runs in a profile of its own (HOME, XDG_*, ODBCINI) on a display of its own.
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKY_BLUE = (166, 202, 240)  # the empty work area
RED = (255, 0, 0)  # the tool bar at the right end of the main window's top panel

# Client coordinates in the main window (its layout is fixed).
WORK_AREA_TOP = 28 + 127
TOOLBAR3_LEFT = 1016 - 115
SB_TILE = (TOOLBAR3_LEFT + 20, 13)
SB_RUN = (TOOLBAR3_LEFT + 60, 13)


def slot_button(letter):
    n = ord(letter) - ord("A")
    row, k = divmod(n, 13)
    x = 1 if k == 0 else 78 * k
    return x + 39, 28 + (8 if row == 0 else 68) + 28


def ere_literal(text):
    """`text` as a POSIX extended regular expression that matches just that text."""
    return re.sub(r"([\\.\[\](){}*+?|^$])", r"\\\1", text)


class Failure(Exception):
    pass


def wait_for(what, condition, timeout, poll=0.05):
    """Polls `condition` until it returns a true value; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(poll)


def stays(condition, seconds):
    """True when `condition` holds at every poll for `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not condition():
            return False
        time.sleep(0.05)
    return condition()


class Screen:
    """Reads pixels of the root window straight from the X server (XGetImage)."""

    class XImage(ctypes.Structure):
        _fields_ = [
            ("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
            ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
            ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
            ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
            ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
            ("bits_per_pixel", ctypes.c_int),
        ]

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(Screen.XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XDestroyImage = None  # a macro; the image is freed through XFree below
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise Failure(f"cannot open display {display}")
        self.root = self.x.XDefaultRootWindow(self.dpy)

    def close(self):
        self.x.XCloseDisplay(self.dpy)

    def add_keys(self, characters):
        """Gives each character a key of its own on unused key codes, the way a keyboard layout
        with those letters has them. Typing them then changes the keyboard map no more, which
        xdotool does around each character the map lacks: the program may read the map after
        it changed back and lose the character, and the window manager, busy with each change,
        holds back a click that follows while the keys typed after it go on."""
        x = self.x
        x.XDisplayKeycodes.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int)]
        x.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        x.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                          ctypes.POINTER(ctypes.c_int)]
        x.XChangeKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                             ctypes.POINTER(ctypes.c_ulong), ctypes.c_int]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        low, high, per = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        x.XDisplayKeycodes(self.dpy, ctypes.byref(low), ctypes.byref(high))
        count = high.value - low.value + 1
        syms = x.XGetKeyboardMapping(self.dpy, low.value, count, ctypes.byref(per))
        free = [low.value + i for i in range(count)
                if not any(syms[i * per.value + k] for k in range(per.value))]
        x.XFree(syms)
        wanted = sorted(set(characters))
        if len(wanted) > len(free):
            raise Failure(f"the keyboard map has no room for {len(wanted)} more keys")
        for code, char in zip(free, wanted):
            point = ord(char)
            sym = point if 0x20 <= point < 0x7f or 0xa0 <= point <= 0xff else 0x1000000 + point
            row = (ctypes.c_ulong * 2)(sym, sym)
            x.XChangeKeyboardMapping(self.dpy, code, 2, row, 1)
        x.XSync(self.dpy, 0)

    def grab(self, left, top, width, height):
        """The pixels of a screen rectangle as rows of (r, g, b)."""
        image = self.x.XGetImage(self.dpy, self.root, left, top, width, height, 0xFFFFFFFF, 2)
        if not image:
            raise Failure("XGetImage failed")
        img = image.contents
        if img.bits_per_pixel != 32:
            raise Failure(f"unexpected screen depth: {img.bits_per_pixel} bits per pixel")
        raw = ctypes.string_at(img.data, img.bytes_per_line * img.height)
        rows = []
        for y in range(img.height):
            line = raw[y * img.bytes_per_line:(y * img.bytes_per_line) + 4 * img.width]
            rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, len(line), 4)])
        self.x.XFree(img.data)
        self.x.XFree(image)
        return rows

    def pixel(self, x, y):
        return self.grab(x, y, 1, 1)[0][0]


class Session:
    """One display, one window manager, one profile, one run of the program."""

    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.procs = []
        self.app = None
        self.exports = 0
        self.dir = tempfile.mkdtemp(prefix=f"quorvane-e2e-{name}-")
        self.env = self._profile_env()
        self.display = self._start_xvfb()
        self.env["DISPLAY"] = self.display
        self._start_wm()
        self.screen = Screen(self.display)

    # -- set-up ------------------------------------------------------------------------------

    def _profile_env(self):
        home = os.path.join(self.dir, "home")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "XDG_", "DISPLAY", "WAYLAND", "ODBC", "DBUS"))}
        env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.dir, "runtime"),
            "ODBCINI": os.path.join(home, ".odbc.ini"),
            "QT_QPA_PLATFORM": "xcb",
        })
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "asan.supp")
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                     f"suppressions={supp}"]))
        for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"):
            os.makedirs(env[key], mode=0o700, exist_ok=True)
        open(env["ODBCINI"], "w").close()
        self.store = os.path.join(env["XDG_CONFIG_HOME"], "quorvane", "registry.db")
        return env

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten",
             "tcp", "-noreset"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, env=self.env)
        self.procs.append(xvfb)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or xvfb.poll() is not None:
                raise Failure("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure("Xvfb did not report its display")
            number += chunk
        os.close(read_end)
        return ":" + number.decode().strip()

    def _start_wm(self):
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(wm)
        wait_for("the window manager", lambda: self.run(["wmctrl", "-m"], check=False)[0] == 0,
                 30)

    def seed(self, titles):
        """Gives the slots titles through the store tool, as a person would with it."""
        for letter, title in titles.items():
            self.run([self.args.store_tool, "--store", self.store, "add",
                      f"HKCU\\Quorvane\\{letter}", "/v", "Title", "/d", title, "/f"])

    def set_values(self, letter, values):
        """Stores text values in a slot key; the store tool's escapes (\\xHH, \\r ...) give
        any bytes."""
        for name, data in values.items():
            self.run([self.args.store_tool, "--store", self.store, "add",
                      f"HKCU\\Quorvane\\{letter}", "/v", name, "/d", data, "/f"])

    def stored_values(self):
        """Every value under the settings root as {(slot, name): (type, bytes)}, read from the
        store tool's 8-bit export, which keeps each value's bytes."""
        self.exports += 1
        path = os.path.join(self.dir, f"export{self.exports}.reg")
        self.run([self.args.store_tool, "--store", self.store, "export", "HKCU\\Quorvane",
                  path, "/a"])
        with open(path, "rb") as f:
            return parse_regedit4(f.read())

    def add_sqlite_source(self):
        database = os.path.join(self.dir, "kovadb.sqlite")
        with open(self.env["ODBCINI"], "w") as ini:
            ini.write(f"[KOVADB2]\nDriver=SQLite3\nDatabase={database}\n")

    # -- the program --------------------------------------------------------------------------

    def launch(self, *arguments):
        """Starts the program without waiting for any window of it."""
        self.log = open(os.path.join(self.dir, "program.log"), "w")
        # Started from the home directory, as from a menu: the picker's lists start there.
        self.app = subprocess.Popen([self.args.program, *arguments], env=self.env,
                                    cwd=self.env["HOME"], stdout=self.log,
                                    stderr=subprocess.STDOUT)

    def start(self, *arguments, painted=True):
        self.launch(*arguments)
        self.main = wait_for("the main window", lambda: self.find_window("FormHalvorn") or
                             self._ended_early(), 60)
        wait_for("the main window to take the focus", lambda: self.active_window() == self.main,
                 30)
        # The work area is painted last: once it shows, the window is up.
        if painted:
            wait_for("the main window to be painted",
                     lambda: self.client_pixel(500, WORK_AREA_TOP + 250) == SKY_BLUE, 30)

    def _ended_early(self):
        if self.app.poll() is None:
            return None
        self.log.flush()
        with open(self.log.name, errors="replace") as log:
            tail = log.read()[-3000:]
        raise Failure(f"the program ended with status {self.app.returncode}:\n{tail}")

    def running(self):
        return self.app.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s")

    # -- X helpers ----------------------------------------------------------------------------

    def run(self, command, check=True, timeout=20):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(command)} failed: {result.stderr.strip()}")
        return result.returncode, result.stdout

    def windows(self, title):
        """Visible top-level windows whose title is exactly `title`."""
        code, out = self.run(["xdotool", "search", "--all", "--onlyvisible", "--name",
                              f"^{ere_literal(title)}$"], check=False)
        return [int(w) for w in out.split()] if code == 0 else []

    def find_window(self, title):
        found = self.windows(title)
        return found[0] if found else None

    def active_window(self):
        code, out = self.run(["xdotool", "getactivewindow"], check=False)
        return int(out) if code == 0 and out.strip() else None

    def client_origin(self, window=None):
        _, out = self.run(["xwininfo", "-id", str(window or self.main)])
        values = {}
        for line in out.splitlines():
            if ":" in line:
                key, _, value = line.strip().partition(":")
                values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def client_pixel(self, x, y):
        left, top, _, _ = self.client_origin()
        return self.screen.pixel(left + x, top + y)

    def client_grab(self, x, y, width, height):
        left, top, _, _ = self.client_origin()
        return self.screen.grab(left + x, top + y, width, height)

    def keys(self, *steps):
        """Real key events through XTEST: '+ctrl' presses, '-ctrl' releases."""
        for step in steps:
            action = "keydown" if step[0] == "+" else "keyup"
            self.run(["xdotool", action, step[1:]])

    def click(self, x, y, button=1):
        """A mouse click at client coordinates of the main window. Returns the time just before
        the click was sent."""
        left, top, _, _ = self.client_origin()
        self.run(["xdotool", "mousemove", "--sync", str(left + x), str(top + y)])
        sent = time.monotonic()
        self.run(["xdotool", "click", str(button)])
        return sent

    def drag(self, start, end):
        left, top, _, _ = self.client_origin()
        self.run(["xdotool", "mousemove", "--sync", str(left + start[0]), str(top + start[1])])
        self.run(["xdotool", "mousedown", "1"])
        for i in range(1, 11):
            x = start[0] + (end[0] - start[0]) * i // 10
            y = start[1] + (end[1] - start[1]) * i // 10
            self.run(["xdotool", "mousemove", "--sync", str(left + x), str(top + y)])
        self.run(["xdotool", "mouseup", "1"])

    def grab_in(self, window, x, y, width, height):
        left, top, _, _ = self.client_origin(window)
        return self.screen.grab(left + x, top + y, width, height)

    def click_in(self, window, x, y):
        """A mouse click at client coordinates of `window`."""
        left, top, _, _ = self.client_origin(window)
        self.run(["xdotool", "mousemove", "--sync", str(left + x), str(top + y)])
        self.run(["xdotool", "click", "1"])

    def press(self, *names):
        """Each key pressed and released in turn."""
        for name in names:
            self.keys("+" + name, "-" + name)

    def type(self, text):
        """Text typed through the keyboard, a press and a release for each character (with
        Shift where the key map has the character on the shifted level)."""
        self.run(["xdotool", "type", "--delay", "40", "--", text], timeout=120)

    def wait_active(self, what, title):
        return wait_for(what, lambda: self.active_window() in self.windows(title), 30)

    def close_window(self, window):
        """WM_DELETE_WINDOW through the window manager, as its close box sends it."""
        self.run(["wmctrl", "-i", "-c", hex(window)])

    def work_area_shows_job(self):
        return self.client_pixel(500, WORK_AREA_TOP + 250) != SKY_BLUE

    def open_slot(self, letter):
        self.click(*slot_button(letter))
        wait_for(f"slot {letter}'s job window", self.work_area_shows_job, 30)

    # -- clean-up -----------------------------------------------------------------------------

    def close(self, keep):
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        self.screen.close()
        for proc in reversed(self.procs):
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if keep:
            print(f"profile and program log kept in {self.dir}")
        else:
            shutil.rmtree(self.dir, ignore_errors=True)


def parse_regedit4(data):
    """The values of a REGEDIT4 file: quoted text (its terminating zero added back), hex(N):
    data of type N, hex: binary, dword:."""
    lines = data.split(b"\r\n")
    if lines[0] != b"REGEDIT4":
        raise Failure(f"unexpected export header {lines[0][:40]!r}")
    joined, pending = [], b""
    for line in lines[1:]:
        line = pending + (line.lstrip() if pending else line)
        if line.endswith(b"\\") and not line.startswith(b"["):
            pending = line[:-1]
            continue
        pending = b""
        joined.append(line)
    values, key = {}, None
    quoted = re.compile(rb'"((?:[^"\\]|\\.)*)"')

    def unquote(text):
        return re.sub(rb"\\(.)", rb"\1", text)

    for line in joined:
        if line.startswith(b"[") and line.endswith(b"]"):
            key = line[1:-1].decode("utf-8", "replace").rsplit("\\", 1)[-1]
            continue
        if not line:
            continue
        name = quoted.match(line)
        if not name or line[name.end():name.end() + 1] != b"=":
            raise Failure(f"unexpected export line {line[:60]!r}")
        rest = line[name.end() + 1:]
        if rest.startswith(b'"'):
            value = (1, unquote(quoted.fullmatch(rest).group(1)) + b"\0")
        elif rest.startswith(b"hex"):
            kind, _, digits = rest.partition(b":")
            type_ = 3 if kind == b"hex" else int(kind[4:-1], 16)
            value = (type_, bytes.fromhex(digits.replace(b",", b"").decode()))
        elif rest.startswith(b"dword:"):
            value = (4, int(rest[6:], 16).to_bytes(4, "little"))
        else:
            raise Failure(f"unexpected export data {rest[:60]!r}")
        values[(key, unquote(name.group(1)).decode("utf-8", "replace"))] = value
    return values


TITLES = {"A": "Job A", "B": "Job B", "C": "Job C", "Q": "Database"}

# The job window's sub-window frame inside the work area, when it is the only one: its title
# bar's buttons (minimise, restore/maximise, close) sit at the right end.
SUBWINDOW_TITLE_Y = WORK_AREA_TOP + 12


def subwindow_button(index_from_right):
    return 1000 - 20 * index_from_right, SUBWINDOW_TITLE_Y


# -- the scenarios ------------------------------------------------------------------------------


def ctrl_f10_runs_the_setup_dialog_once(s):
    s.seed(TITLES)
    s.start()
    s.keys("+ctrl", "+F10")
    dialog = wait_for("the setup dialog", lambda: s.find_window("FormLinkFile"), 30)
    # Released while the dialog is up, and a key typed into it.
    s.keys("-F10", "-ctrl", "+x", "-x")
    s.close_window(dialog)
    wait_for("the setup dialog to close", lambda: dialog not in s.windows("FormLinkFile"), 30)
    if not stays(lambda: not s.windows("FormLinkFile"), 2.0):
        raise Failure("the setup dialog opened a second time after it was closed")


def space_right_after_start_presses_the_first_slot_button(s):
    s.seed(TITLES)
    s.start()
    s.keys("+space", "-space")
    wait_for("slot A to open (the focus starts on its button)",
             lambda: not s.windows("FormHalvorn") or s.work_area_shows_job(), 30)
    if not s.windows("FormHalvorn"):
        raise Failure("Space right after the start ended the program")


def enter_presses_the_focused_slot_button(s):
    s.seed(TITLES)
    s.start()
    # The focus moves on from slot A's button to slot B's; Enter presses it.
    s.keys("+Tab", "-Tab", "+Return", "-Return")
    wait_for("a job window", s.work_area_shows_job, 30)
    # Slot B's window takes the focus; its indicator is lit (the letter's bulb, second place).
    if slot_bulb(s, "B") == slot_bulb_grey(s):
        raise Failure("Enter opened a slot other than B")


def keys_on_a_minimised_job_frame_stay_there(s):
    s.seed(TITLES)
    s.start()
    s.open_slot("A")
    s.click(*subwindow_button(2))  # minimise
    wait_for("the minimised job window", lambda: not s.work_area_shows_job(), 30)
    s.keys("+ctrl", "+b", "-b", "-ctrl")
    if not stays(lambda: not s.work_area_shows_job(), 1.5):
        raise Failure("Ctrl+B with a minimised job window's frame focused opened slot B")


def tile_fills_the_whole_work_area(s):
    s.seed(TITLES)
    s.start()
    s.open_slot("A")
    # Drag the job window by its title bar partly out of the work area, then tile.
    s.drag((400, SUBWINDOW_TITLE_Y), (900, SUBWINDOW_TITLE_Y + 100))
    wait_for("the dragged window", lambda: s.client_pixel(300, WORK_AREA_TOP + 50) == SKY_BLUE,
             30)
    s.click(*SB_TILE)
    _, _, _, height = s.client_origin()
    bottom = wait_for("the tiled window", lambda: s.client_pixel(300, WORK_AREA_TOP + 50)
                      != SKY_BLUE and s.client_grab(0, height - 16, 1016, 16), 30)
    strip = [y for y, row in enumerate(bottom) if row.count(SKY_BLUE) > 900]
    if strip:
        raise Failure(f"the bottom {16 - strip[0]} pixel rows of the work area stay empty")


def progress_row(s, left=10):
    # The progress bar fills the tool bar along the top of a tiled job window.
    return s.client_grab(left, WORK_AREA_TOP + 37, 200, 1)[0]


def f5_and_f6_press_run_and_tile(s):
    s.seed(TITLES)
    s.start()
    s.open_slot("A")
    idle = progress_row(s)
    # The opened job window has the focus: its keys stay there and start nothing.
    s.keys("+F5", "-F5")
    if not stays(lambda: progress_row(s) == idle, 2.5):
        raise Failure("F5 inside the job window ran the job")
    s.drag((400, SUBWINDOW_TITLE_Y), (900, SUBWINDOW_TITLE_Y + 100))
    wait_for("the dragged window", lambda: s.client_pixel(300, WORK_AREA_TOP + 50) == SKY_BLUE,
             30)
    # A click on slot A's button gives it the focus; its window is open already.
    s.click(*slot_button("A"))
    s.keys("+F6", "-F6")
    wait_for("the tiled window", lambda: s.client_pixel(300, WORK_AREA_TOP + 50) != SKY_BLUE, 30)
    s.keys("+F5", "-F5")
    wait_for("the job to run", lambda: progress_row(s) != idle, 30)


def closing_the_main_window_during_a_job_ends_the_program(s):
    s.seed(TITLES)
    s.start()
    s.open_slot("A")
    s.open_slot("B")  # tiled side by side: A on the left, B on the right
    idle = progress_row(s, 1016 // 2 + 10)
    s.click(*SB_RUN)
    wait_for("the first job to run", lambda: progress_row(s) != idle, 30)
    s.close_window(s.main)
    # While the first job runs, the program reads no input; the close comes after it.
    while s.running():
        # Read first, then look whether the window was still there: an unmapped window's
        # pixels are the screen's background, a destroyed one has no geometry.
        try:
            row = progress_row(s, 1016 // 2 + 10)
        except Failure:
            break
        if not s.windows("FormHalvorn"):
            break
        if row != idle:
            raise Failure("the second job started after the main window was closed")
        time.sleep(0.05)
    s.wait_exit(30)


def a_job_starts_no_earlier_than_two_seconds_after_run(s):
    s.seed(TITLES)
    s.start()
    s.open_slot("A")
    idle = progress_row(s)
    ran = s.click(*SB_RUN)
    # The job repaints its progress bar on every step, also while it processes no events.
    wait_for("the job to start", lambda: progress_row(s) != idle, 30, poll=0.002)
    started = time.monotonic() - ran
    if started < 2.0:
        raise Failure(f"the job started {started * 1000:.0f} ms after Run")
    print(f"the job started {started * 1000:.0f} ms after Run")


def clock_panel(s):
    # Panel0 of a single tiled database job window: right of the 233-pixel source grid.
    return s.client_grab(250, WORK_AREA_TOP + 140, 100, 300)


def start_database_run(s):
    s.seed(TITLES)
    s.add_sqlite_source()
    s.start()
    s.open_slot("Q")
    if s.windows("quorvane"):
        raise Failure("the database job window reported an error on opening")
    empty = clock_panel(s)
    s.click(*SB_RUN)
    return wait_for("the clock", lambda: clock_panel(s) != empty and clock_panel(s), 30)


def the_database_clock_ticks_during_its_run(s):
    first = start_database_run(s)
    # The run lasts at least 10 s; the clock shows seconds and is refreshed every 100 ms.
    try:
        wait_for("the clock to move on", lambda: clock_panel(s) != first, 3.0)
    except Failure:
        raise Failure("the clock stood still during the run")


def closing_the_main_window_during_a_database_run_ends_the_program(s):
    start_database_run(s)
    closed = time.monotonic()
    s.close_window(s.main)
    s.wait_exit(30)
    ended = time.monotonic() - closed
    if ended > 3.0:
        raise Failure(f"the program ended {ended:.1f} s after its main window was closed")
    print(f"the program ended {ended:.2f} s after its main window was closed")


def restoring_a_minimised_database_window_does_not_show_it_again(s):
    s.seed(TITLES)  # no data source: showing the window reports the failed connection
    s.start()
    s.click(*slot_button("Q"))
    box = wait_for("the connection error", lambda: s.find_window("quorvane"), 30)
    s.close_window(box)
    wait_for("the error box to close", lambda: not s.windows("quorvane"), 30)
    s.click(*subwindow_button(2))  # minimise
    wait_for("the minimised job window", lambda: not s.work_area_shows_job(), 30)
    # The minimised frame sits at the bottom left of the work area; its middle button restores.
    _, _, _, height = s.client_origin()
    s.click(*minimised_restore_button(height))
    wait_for("the restored job window", s.work_area_shows_job, 30)
    if not stays(lambda: not s.windows("quorvane"), 2.0):
        raise Failure("restoring the window ran its show handler again (a second error box)")


def toolkit_options_change_nothing(s):
    s.seed(TITLES)
    s.start("-reverse", "-qwindowgeometry", "400x300+0+0", painted=False)
    _, _, width, height = s.client_origin()
    wait_for("the red tool bar at one end of the top panel",
             lambda: RED in (s.client_pixel(width - 4, 26), s.client_pixel(3, 26)), 30)
    if (width, height) != (1016, 663):
        raise Failure(f"the main window's client area is {width} x {height}")
    if s.client_pixel(width - 4, 26) != RED:
        raise Failure("the window is mirrored: the red tool bar is not at the right end")


def slot_bulb(s, letter):
    n = ord(letter) - ord("A")
    return s.client_grab(40 + 33 * n + 2, 4, 18, 18)


def slot_bulb_grey(s):
    return slot_bulb(s, "Z")


def minimised_restore_button(height):
    # A minimised sub-window lies at the bottom left of the work area; its first button restores.
    return 140, height - 12


# -- editing the settings through the dialogs ---------------------------------------------------

# The setup dialog's controls, in its client coordinates (its layout is fixed).
SETUP_CLOSE = (760, 16)  # BBClose
SETUP_TITLE_A = (150, 30)  # MemoA
SETUP_BELOW_TITLE_A = (70, 50, 150, 60)  # rows B to D, covered by MemoA while it has the focus
# The parameter dialog's first memo, grown to 120 pixels while it has the focus.
DETAIL_MEMO_1 = (94, 3, 500, 120)

# Values as other tools leave them: Big5 text (no UTF-8), a no-break space, a lone CR, a lone
# LF, a byte-order mark. Written with the store tool's escapes.
HOSTILE = {
    "B": {"Title": "\\xa4\\xa4\\xa4\\xe5 Big5\\xc2\\xa0nbsp\\rlone CR",
          "FileName": "D:\\\\\\xb8\\xea\\xae\\xc6\\\\x.txt\\nLF\\xef\\xbb\\xbf"},
}
HOSTILE_BYTES = {
    ("B", "Title"): b"\xa4\xa4\xa4\xe5 Big5\xc2\xa0nbsp\rlone CR\0",
    ("B", "FileName"): b"D:\\\xb8\xea\xae\xc6\\x.txt\nLF\xef\xbb\xbf\0",
}


def open_setup_dialog(s):
    s.keys("+ctrl", "+F10", "-F10", "-ctrl")
    dialog = wait_for("the setup dialog", lambda: s.find_window("FormLinkFile"), 30)
    s.wait_active("the setup dialog to take the focus", "FormLinkFile")
    return dialog


def close_by_button(s, dialog, title, button):
    s.click_in(dialog, *button)
    wait_for(f"{title} to close", lambda: dialog not in s.windows(title), 30)


def difference(got, wanted):
    """Where two byte strings part, with a little of each from there on."""
    if got is None:
        return "the value is missing"
    at = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b),
              min(len(got), len(wanted)))
    start = max(0, at - 20)
    return (f"{len(got)} bytes instead of {len(wanted)}, differing from byte {at}: "
            f"{got[start:at + 40]!r} instead of {wanted[start:at + 40]!r}")


def check_stored(s, before, expected):
    """Every value stored before the session holds the same bytes after it, except those in
    `expected`, which hold exactly the bytes given there (as REG_SZ)."""
    after = s.stored_values()
    for key, data in expected.items():
        type_, got = after.get(key, (None, None))
        if type_ not in (None, 1):
            raise Failure(f"{key[0]}\\{key[1]} has type {type_}")
        if got != data:
            raise Failure(f"{key[0]}\\{key[1]}: {difference(got, data)}")
    for key, (type_, data) in before.items():
        if key not in expected and after.get(key) != (type_, data):
            got = after.get(key, (None, None))[1]
            raise Failure(f"{key[0]}\\{key[1]}, which nobody edited, changed: "
                          f"{difference(got, data)}")


def seed_hostile(s):
    s.seed(TITLES)
    for letter, values in HOSTILE.items():
        s.set_values(letter, values)
    before = s.stored_values()
    for key, data in HOSTILE_BYTES.items():
        if before.get(key) != (1, data):
            raise Failure(f"the store tool stored {before.get(key)!r} for {key}")
    return before


def typed_edits_are_stored_as_typed(s):
    s.set_values("A", {"FileName": "C:\\\\old\\\\name.txt"})
    before = seed_hostile(s)
    # A keyboard with these letters; 東 and 京 stand for what an input method sends.
    s.screen.add_keys("öß東京\u00a0")
    s.start()
    dialog = open_setup_dialog(s)
    # The focus starts on the close button; two Tabs reach slot A's file name and select it
    # all, so the typing replaces it.
    s.press("Tab", "Tab")
    s.type("C:\\Daten\\Größe\u00a0東京.txt")
    s.press("BackSpace", "BackSpace", "BackSpace")
    s.type("csv")
    # Into slot A's title with the mouse, to its end, and on over three lines. The window
    # manager sees a click first and passes it on, while keys go straight to the program: the
    # typing waits until the memo has grown over the rows below it, that is, has the focus.
    below = s.grab_in(dialog, *SETUP_BELOW_TITLE_A)
    s.click_in(dialog, *SETUP_TITLE_A)
    wait_for("slot A's title to take the focus",
             lambda: s.grab_in(dialog, *SETUP_BELOW_TITLE_A) != below, 30)
    s.keys("+ctrl", "+End", "-End", "-ctrl")
    s.type(" Größe 東京")
    s.press("Return")
    s.type("zweite\u00a0Zeilex")
    s.press("BackSpace", "Return")
    s.type("drei")
    close_by_button(s, dialog, "FormLinkFile", SETUP_CLOSE)
    check_stored(s, before, {
        ("A", "FileName"): "C:\\Daten\\Größe\u00a0東京.csv\0".encode(),
        ("A", "Title"): "Job A Größe 東京\r\nzweite\u00a0Zeile\r\ndrei\0".encode(),
    })


# Line breaks of every kind, characters an editor might turn into others, and a long line.
PASTED = ("LF\nCR\rCRLF\r\nNBSP\u00a0LS\u2028tab\there Größe 東京\n"
          + "0123456789" * 10000 + "\r\nend")


def pasted_text_is_stored_with_crlf_breaks(s):
    s.seed(TITLES)
    for letter, values in HOSTILE.items():
        s.set_values(letter, {"02": values["Title"], "03": values["FileName"]})
    s.set_values("B", {"01": "replaced"})
    before = s.stored_values()
    s.start()
    clip = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i"], env=s.env,
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    s.procs.append(clip)
    clip.stdin.write(PASTED.encode())
    clip.stdin.close()
    wait_for("the text on the clipboard", lambda: subprocess.run(
        ["xclip", "-selection", "clipboard", "-o"], env=s.env, capture_output=True,
        timeout=20).stdout == PASTED.encode(), 30, poll=0.2)
    setup = open_setup_dialog(s)
    # Slot B's file name has the focus after three Tabs; F2 opens that slot's parameters.
    s.press("Tab", "Tab", "Tab", "F2")
    detail = wait_for("the parameter dialog", lambda: s.find_window("Quorvane\\B"), 30)
    s.wait_active("the parameter dialog to take the focus", "Quorvane\\B")
    # The first memo has the focus; Ctrl+A selects its text and the paste replaces it.
    memo = s.grab_in(detail, *DETAIL_MEMO_1)
    s.keys("+ctrl", "+a", "-a", "+v", "-v", "-ctrl")
    wait_for("the pasted text", lambda: s.grab_in(detail, *DETAIL_MEMO_1) != memo, 30)
    s.close_window(detail)
    wait_for("the parameter dialog to close", lambda: not s.windows("Quorvane\\B"), 30)
    s.wait_active("the setup dialog to take the focus back", "FormLinkFile")
    close_by_button(s, setup, "FormLinkFile", SETUP_CLOSE)
    pasted = PASTED.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")
    check_stored(s, before, {("B", "01"): (pasted + "\0").encode()})


def make_files(s, folder, names):
    path = os.path.join(s.env["HOME"], folder)
    os.makedirs(path, exist_ok=True)
    for name in names:
        open(os.path.join(path, name), "w").close()


def open_picker(s):
    s.press("F4")
    picker = wait_for("the directory picker", lambda: s.find_window("目錄設定"), 30)
    s.wait_active("the picker to take the focus", "目錄設定")
    return picker


def picker_closes(s, picker, cause):
    try:
        wait_for("the picker to close", lambda: picker not in s.windows("目錄設定"), 10)
    except Failure:
        raise Failure(f"{cause} left the picker open")
    s.wait_active("the setup dialog to take the focus back", "FormLinkFile")


NEW_FOLDER = "Größe\u00a0東京"


def enter_on_the_pickers_buttons(s):
    s.seed(TITLES)
    docs = os.path.join(s.env["HOME"], "docs")
    make_files(s, "docs", ["a.txt", "b.txt", "c.txt"])
    s.set_values("A", {"FileName": "C:\\\\docs\\\\a.txt"})
    before = s.stored_values()
    s.screen.add_keys(NEW_FOLDER)
    s.start()
    setup = open_setup_dialog(s)
    s.press("Tab", "Tab")  # slot A's file name
    # The picker opens on C:\docs, the start path's directory, with the focus on the directory
    # list. The file list is the third stop from there, and the two buttons come after it.
    for button, pick, tabs in (("OK", ["End"], 1), ("cancel", ["End", "Up"], 2)):
        picker = open_picker(s)
        s.press("Tab", "Tab", "Tab", *pick, *["Tab"] * tabs, "Return")
        picker_closes(s, picker, f"Enter on the focused {button} button")
    # A directory typed that does not exist: Enter on OK asks whether to create it, Enter
    # answers Yes. It is made beside the shown files, and with no file selected the picker
    # hands back nothing.
    picker = open_picker(s)
    s.press("Tab", "Tab")  # the directory name, which shows C:\docs
    s.keys("+ctrl", "+a", "-a", "-ctrl")
    s.type(NEW_FOLDER)
    s.press("Tab", "Tab", "Return")
    s.wait_active("the question whether to create the directory", "Confirm")
    s.press("Return")
    picker_closes(s, picker, "Enter on the question's Yes")
    if NEW_FOLDER.encode() not in os.listdir(os.fsencode(docs)):
        raise Failure(f"no directory {NEW_FOLDER!r} in {docs}: {os.listdir(os.fsencode(docs))}")
    close_by_button(s, setup, "FormLinkFile", SETUP_CLOSE)
    # OK handed back the last file; cancel, with another one selected, changed nothing.
    check_stored(s, before, {("A", "FileName"): b"C:\\docs\\c.txt\0"})

# -- the first start, "Save Key", and job windows by mouse --------------------------------------

# Title memo and file-name field of each row of the setup dialog, in its client coordinates:
# row A's stand at top 19, row Z's at 571, the others evenly between them.
SETUP_MEMO_LEFT, SETUP_MEMO_WIDTH = 65, 160
SETUP_FIELD_LEFT, SETUP_FIELD_WIDTH = 406, 297
SETUP_SAVE_KEY = (761, 68)  # Button1, "Save Key"
SETUP_CLIENT_SIZE = (792, 603)


def setup_row_top(letter):
    return 19 + round((ord(letter) - ord("A")) * 552 / 25)


def dark_pixels(rows):
    """How many pixels of a grab are drawn in a dark colour, such as text."""
    return sum(1 for row in rows for pixel in row if max(pixel) < 100)


def managed_windows(s):
    """The window manager's list of top-level windows as {id: title}."""
    _, out = s.run(["wmctrl", "-l"])
    found = {}
    for line in out.splitlines():
        fields = line.split(None, 3)
        if len(fields) >= 3:
            found[int(fields[0], 16)] = fields[3] if len(fields) == 4 else ""
    return found


def no_window_but(s, windows):
    extra = {w: t for w, t in managed_windows(s).items() if w not in windows}
    if extra:
        raise Failure(f"unexpected windows: {sorted(extra.values())}")
    return True


def differing(got, wanted):
    """The first few values in which two {(slot, name): value} tables differ."""
    keys = sorted(k for k in set(got) | set(wanted) if got.get(k) != wanted.get(k))
    return ", ".join(f"{k[0]}\\{k[1]} is {got.get(k)!r}, not {wanted.get(k)!r}"
                     for k in keys[:5])


def first_start_shows_the_setup_dialog_first(s):
    if os.path.exists(s.store):
        raise Failure("the profile is not empty")
    s.launch()  # without waiting for the main window, which must not come first
    dialog = wait_for("the setup dialog", lambda: s.find_window("FormLinkFile") or
                      s.find_window("FormHalvorn") or s._ended_early(), 60)
    if dialog in s.windows("FormHalvorn"):
        raise Failure("the main window came before the setup dialog")
    s.wait_active("the setup dialog to take the focus", "FormLinkFile")
    # Every title memo shows its seeded title and every file-name field is empty, once painted.
    def rows_shown():
        return all(dark_pixels(s.grab_in(dialog, SETUP_MEMO_LEFT + 3, setup_row_top(L) + 5,
                                         SETUP_MEMO_WIDTH - 6, 12)) > 20
                   for L in "ABCDEFGHIJKLMNOPQRSTUVWXYZ")
    wait_for("the seeded titles in all 26 rows", rows_shown, 30)
    for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZ":
        field = s.grab_in(dialog, SETUP_FIELD_LEFT + 4, setup_row_top(letter) + 4,
                          SETUP_FIELD_WIDTH - 8, 14)
        if dark_pixels(field):
            raise Failure(f"slot {letter}'s file-name field is not empty")
    # The dialog is the program's only window: the main window is not mapped yet.
    no_window_but(s, {dialog})
    _, _, width, height = s.client_origin(dialog)
    if (width, height) != SETUP_CLIENT_SIZE:
        raise Failure(f"the setup dialog's client area is {width} x {height}")
    # Seeded while the dialog was created: all 26 titles, empty file names, no parameters.
    seeded = {(L, name): (1, f"Function {L}\0".encode() if name == "Title" else b"\0")
              for L in "ABCDEFGHIJKLMNOPQRSTUVWXYZ" for name in ("Title", "FileName")}
    stored = s.stored_values()
    if stored != seeded:
        raise Failure(f"the seeded store differs: {differing(stored, seeded)}")
    # Closed with the window manager's close box: the rows are written back and the main
    # window comes up, its 26 slot buttons labelled and enabled.
    s.close_window(dialog)
    s.main = wait_for("the main window", lambda: s.find_window("FormHalvorn") or
                      s._ended_early(), 60)
    wait_for("the main window to be painted",
             lambda: s.client_pixel(500, WORK_AREA_TOP + 250) == SKY_BLUE, 30)
    if s.windows("FormLinkFile"):
        raise Failure("the setup dialog is still shown beside the main window")
    for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZ":
        x, y = slot_button(letter)
        if dark_pixels(s.client_grab(x - 30, y - 8, 60, 16)) < 20:
            raise Failure(f"slot {letter}'s button shows no caption in black")
    no_window_but(s, {s.main})
    stored = s.stored_values()
    if stored != seeded:
        raise Failure(f"closing the setup dialog changed the store: {differing(stored, seeded)}")


def parse_hivex_export(text):
    """The values of `hivexregedit --export` output as {(key, name): (type, data)}; the root
    key is "\\", the others "\\A" and so on."""
    values, key, pending = {}, None, ""
    for line in text.splitlines():
        line = pending + line.strip() if pending else line
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            continue
        match = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
        if not match:
            if line and not line.startswith("Windows Registry Editor"):
                raise Failure(f"unexpected hivexregedit line {line[:60]!r}")
            continue
        name = re.sub(r"\\(.)", r"\1", match.group(1))
        data = match.group(2)
        if data.startswith("hex"):
            kind, _, digits = data.partition(":")
            type_ = 3 if kind == "hex" else int(kind[4:-1], 16)
            values[(key, name)] = (type_, bytes.fromhex(digits.replace(",", "")))
        elif data.startswith("dword:"):
            values[(key, name)] = (4, int(data[6:], 16).to_bytes(4, "little"))
        elif data.startswith('"'):
            unquoted = re.sub(r"\\(.)", r"\1", data[1:-1])
            values[(key, name)] = (1, (unquoted + "\0").encode("utf-16-le"))
        else:
            raise Failure(f"unexpected hivexregedit data {data[:60]!r}")
    return values


def hive_values(path):
    """Every value of the hive file at `path` as read by hivex, text values decoded."""
    result = subprocess.run(["hivexregedit", "--export", path, "\\"], capture_output=True,
                            timeout=60)
    if result.returncode != 0:
        raise Failure(f"hivexregedit cannot read {path}: "
                      f"{result.stderr.decode(errors='replace').strip()}")
    values = {}
    for (key, name), (type_, data) in parse_hivex_export(result.stdout.decode()).items():
        if type_ != 1:
            raise Failure(f"{key}\\{name} has type {type_} in the hive")
        values[(key.rsplit("\\", 1)[-1], name)] = data.decode("utf-16-le").rstrip("\0")
    return values


NON_ASCII_TITLE = "Größe 東京 ½"


def painted_rows(s, dialog, area):
    """A grab of title rows of the setup dialog once they show their text."""
    def painted():
        first = s.grab_in(dialog, *area)
        return dark_pixels(first) > 20 and first == s.grab_in(dialog, *area) and first
    return wait_for("the title rows to be painted", painted, 30)


def wait_handled(s, dialog, rows, windows):
    """Waits until the dialog has handled the input sent before, and fails as soon as a window
    but `windows` shows up. A click on slot Z's file name and then one into slot A's title are
    handled after that input, and the memo, which has lost its height to the first click,
    grows over the rows below (`rows`, as they show while it is small) once the second has
    given it the focus."""
    try:
        s.click_in(dialog, SETUP_FIELD_LEFT + 100, setup_row_top("Z") + 10)
        wait_for("slot A's title to lose the focus", lambda: no_window_but(s, windows) and
                 s.grab_in(dialog, *SETUP_BELOW_TITLE_A) == rows, 30)
        s.click_in(dialog, *SETUP_TITLE_A)
        wait_for("slot A's title to take the focus", lambda: no_window_but(s, windows) and
                 s.grab_in(dialog, *SETUP_BELOW_TITLE_A) != rows, 30)
        no_window_but(s, windows)
    except Failure:
        s._ended_early()  # says so when the program is gone
        raise


def save_key_writes_the_store_to_a_hive_file(s):
    s.seed(TITLES)
    s.seed({"D": NON_ASCII_TITLE})
    export = os.path.join(s.env["HOME"], "Quorvane")
    s.start()
    # A title typed in the dialog is stored when the dialog closes.
    dialog = open_setup_dialog(s)
    title_c = (SETUP_MEMO_LEFT + 80, setup_row_top("C") + 11)
    below = painted_rows(s, dialog, (70, setup_row_top("D") + 5, 150, 40))
    s.click_in(dialog, *title_c)
    wait_for("slot C's title to take the focus",
             lambda: s.grab_in(dialog, 70, setup_row_top("D") + 5, 150, 40) != below, 30)
    s.keys("+ctrl", "+End", "-End", "-ctrl")
    s.type(" typed")
    close_by_button(s, dialog, "FormLinkFile", SETUP_CLOSE)
    windows = {s.main}
    dialog = open_setup_dialog(s)
    windows.add(dialog)
    rows = painted_rows(s, dialog, SETUP_BELOW_TITLE_A)
    if os.path.lexists(export):
        raise Failure(f"{export} exists before Save Key was pressed")
    s.click_in(dialog, *SETUP_SAVE_KEY)
    wait_for(f"the hive file {export}", lambda: os.path.isfile(export), 30)
    wait_handled(s, dialog, rows, windows)
    # The hive holds exactly what the store holds, read back by another program.
    stored = {k: data[:-1].decode() for k, (type_, data) in s.stored_values().items()}
    in_hive = hive_values(export)
    if in_hive != stored:
        raise Failure(f"the hive differs from the store: {differing(in_hive, stored)}")
    for key, title in ((("C", "Title"), "Job C typed"), (("D", "Title"), NON_ASCII_TITLE),
                       (("A", "Title"), "Job A"), (("Z", "FileName"), "")):
        if in_hive.get(key) != title:
            raise Failure(f"{key[0]}\\{key[1]} in the hive is {in_hive.get(key)!r}")
    # A second press with the file there leaves it alone and says nothing.
    with open(export, "rb") as f:
        first = f.read()
    s.click_in(dialog, *SETUP_SAVE_KEY)
    wait_handled(s, dialog, rows, windows)
    with open(export, "rb") as f:
        if f.read() != first:
            raise Failure("the second Save Key changed the existing hive file")
    # A home directory that refuses a new file even to root: no file, no message, no crash.
    os.remove(export)
    home = s.env["HOME"]
    listing = sorted(os.listdir(home))
    code, _ = s.run(["chattr", "+i", home], check=False)
    if code != 0:
        # Only this last step needs the immutable attribute (a directory that refuses even
        # root); without it the step is left out, and the log says so.
        print(f"save_key: the refused home directory was not tried: chattr +i {home} failed "
              "(no immutable attribute on this file system, or no capability to set it)",
              file=sys.stderr)
    else:
        try:
            try:
                open(os.path.join(home, "probe"), "w").close()
                raise Failure(f"{home} still takes new files")
            except PermissionError:
                pass
            s.click_in(dialog, *SETUP_SAVE_KEY)
            wait_handled(s, dialog, rows, windows)
            if sorted(os.listdir(home)) != listing:
                raise Failure(f"Save Key left {sorted(os.listdir(home))} in the home directory")
        finally:
            s.run(["chattr", "-i", home], check=False)
    close_by_button(s, dialog, "FormLinkFile", SETUP_CLOSE)


# The edges of a framed job window: one line of this grey along each side.
JOB_FRAME_EDGE = (0x72, 0x72, 0x72)
THREE_TILES = [(0, 338), (338, 677), (677, 1016)]


def frame_edges(s, y):
    """The x positions on client row `y` of the main window where a job window's frame edge
    is drawn."""
    row = s.client_grab(0, y, 1016, 1)[0]
    return [x for x, pixel in enumerate(row) if pixel == JOB_FRAME_EDGE]


def check_columns(s, columns, empty):
    """Job windows stand side by side in `columns` (left, right), and the spans of `empty`
    show the work area, over the whole height of the work area."""
    _, _, _, height = s.client_origin()
    wanted = sorted(x for left, right in columns for x in (left, right - 1))
    # Rows clear of the windows' texts: inside the memo, and above and below the panel's
    # caption, which is drawn across its middle.
    for y in (WORK_AREA_TOP + 100, WORK_AREA_TOP + 250, height - 60):
        edges = frame_edges(s, y)
        if edges != wanted:
            raise Failure(f"job window frames at x {edges} on row {y}, not at {wanted}")
        row = s.client_grab(0, y, 1016, 1)[0]
        for left, right in empty:
            if row[left:right].count(SKY_BLUE) != right - left:
                raise Failure(f"the work area between x {left} and {right} is not empty")
        for left, right in columns:
            if SKY_BLUE in row[left:right]:
                raise Failure(f"the job window at x {left} to {right} does not fill its place")


def end_label(s, column):
    # The end time label at the bottom of a tiled job window.
    left, right = column
    _, _, _, height = s.client_origin()
    return s.client_grab(left + 10, height - 26, right - left - 20, 16)


def job_windows_by_mouse(s):
    s.seed(TITLES)
    s.start()
    for count, letter in enumerate("ABC", 1):
        s.click(*slot_button(letter))
        wait_for(f"slot {letter}'s job window",
                 lambda: len(frame_edges(s, WORK_AREA_TOP + 250)) == 2 * count, 30)
    # Tiled side by side over the whole work area (slot B's in the middle: the close box
    # clicked below is its own).
    check_columns(s, THREE_TILES, [])
    for letter in "ABC":
        if slot_bulb(s, letter) == slot_bulb_grey(s):
            raise Failure(f"slot {letter}'s indicator is not lit")
    idle = [end_label(s, column) for column in THREE_TILES]
    s.click(*SB_RUN)
    # The jobs run one after the other, ten seconds each.
    for letter, column, before in zip("ABC", THREE_TILES, idle):
        wait_for(f"the end of slot {letter}'s job",
                 lambda: end_label(s, column) != before, 90)
    # Slot B's window closed by its frame's close box, at its right end: slot B's indicator
    # goes grey, and the other windows keep their places until the next tiling.
    left, right = THREE_TILES[1]
    s.click(right - 16, SUBWINDOW_TITLE_Y)
    wait_for("slot B's window to close (its indicator to go grey)",
             lambda: slot_bulb(s, "B") == slot_bulb_grey(s), 30)
    try:
        wait_for("its place to show the work area", lambda: s.client_pixel(
            (left + right) // 2, WORK_AREA_TOP + 250) == SKY_BLUE, 10)
    except Failure:
        raise Failure("the place of slot B's closed window does not show the work area: the "
                      f"frames stand at x {frame_edges(s, WORK_AREA_TOP + 250)}")
    check_columns(s, [THREE_TILES[0], THREE_TILES[2]], [(left + 1, right - 1)])
    if slot_bulb(s, "A") == slot_bulb_grey(s) or slot_bulb(s, "C") == slot_bulb_grey(s):
        raise Failure("closing slot B's window put out another indicator")
    # A tiling now shares the work area between the two left.
    s.click(*SB_TILE)
    wait_for("the two windows tiled", lambda: frame_edges(s, WORK_AREA_TOP + 250)
             == [0, 507, 508, 1015], 30)
    s.close_window(s.main)
    status = s.wait_exit(60)
    if status != 0:
        raise Failure(f"the program ended with status {status}")


SCENARIOS = {
    "ctrl_f10_once": ctrl_f10_runs_the_setup_dialog_once,
    "focus_at_start": space_right_after_start_presses_the_first_slot_button,
    "enter_on_button": enter_presses_the_focused_slot_button,
    "minimised_frame_keys": keys_on_a_minimised_job_frame_stay_there,
    "tile_fills_area": tile_fills_the_whole_work_area,
    "run_and_tile_keys": f5_and_f6_press_run_and_tile,
    "close_during_job": closing_the_main_window_during_a_job_ends_the_program,
    "timer_not_early": a_job_starts_no_earlier_than_two_seconds_after_run,
    "database_clock": the_database_clock_ticks_during_its_run,
    "close_during_database_run": closing_the_main_window_during_a_database_run_ends_the_program,
    "restore_no_show": restoring_a_minimised_database_window_does_not_show_it_again,
    "toolkit_options": toolkit_options_change_nothing,
    "typed_edits": typed_edits_are_stored_as_typed,
    "pasted_edits": pasted_text_is_stored_with_crlf_breaks,
    "picker_enter_on_buttons": enter_on_the_pickers_buttons,
    "first_start": first_start_shows_the_setup_dialog_first,
    "save_key": save_key_writes_the_store_to_a_hive_file,
    "jobs_by_mouse": job_windows_by_mouse,
}


def main(scenarios=SCENARIOS, session_class=Session, tools=()):
    parser = argparse.ArgumentParser()
    parser.add_argument("--program")
    parser.add_argument("--store-tool")
    parser.add_argument("--keep", action="store_true", help="keep the profile directory")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("scenario", nargs="?")
    args = parser.parse_args()
    if args.list:
        print("\n".join(scenarios))
        return 0
    if not args.program or not args.store_tool:
        parser.error("--program and --store-tool are needed to run a scenario")
    if args.scenario not in scenarios:
        parser.error(f"unknown scenario {args.scenario!r}")
    for tool in ("Xvfb", "openbox", "xdotool", "wmctrl", "xwininfo", "xclip", *tools):
        if not shutil.which(tool):
            print(f"{tool} is missing (scripts/deps.sh installs it)", file=sys.stderr)
            return 1
    session = session_class(args, args.scenario)
    failed = False
    try:
        scenarios[args.scenario](session)
        if session.app and session.running():
            # The program ends cleanly when its main window is closed (and the sanitizers of
            # its build find nothing on the way out).
            if session.windows("FormHalvorn"):
                session.close_window(session.main)
            status = session.wait_exit(60)
            if status != 0:
                raise Failure(f"the program ended with status {status}")
        elif session.app and session.app.returncode not in (0, None):
            raise Failure(f"the program ended with status {session.app.returncode}")
        print(f"{args.scenario}: passed")
    except Failure as failure:
        failed = True
        print(f"{args.scenario}: FAILED: {failure}", file=sys.stderr)
    finally:
        session.close(keep=failed or args.keep)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
