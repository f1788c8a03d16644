#!/usr/bin/env python3
"""End-to-end accessibility scenarios: the built program as a screen reader meets it. Each
scenario runs the program of e2e.py's harness (its own Xvfb, openbox and profile, real X input)
inside a private D-Bus session, announces a screen reader on the accessibility bus the way one
does when it starts, and reads the program's controls and events over AT-SPI (pyatspi).

    atspi.py --program PATH --store-tool PATH --list
    atspi.py --program PATH --store-tool PATH SCENARIO
"""

import importlib.util
import os
import re
import signal
import subprocess
import sys

import e2e
from e2e import Failure, wait_for

# pyatspi is Debian's (python3-pyatspi): it exists for Debian's own interpreter only.
READER_MISSING = (f"python3-pyatspi is missing for {sys.executable} "
                  "(scripts/deps.sh installs it; CMake runs these scenarios with /usr/bin/python3)")

NAME_CHANGED = "object:property-change:accessible-name"


class AccessibleSession(e2e.Session):
    """A session whose program runs on a D-Bus session bus of its own, with a screen reader's
    view of it in this process: the accessibility bus is started on demand through that session
    bus, as on a desktop, and this process listens there as a screen reader does."""

    def __init__(self, args, name):
        if importlib.util.find_spec("pyatspi") is None:
            raise Failure(READER_MISSING)
        self.bus = None
        self.events = []
        super().__init__(args, name)
        try:
            self._start_session_bus()
            self._start_reader()
        except BaseException:
            self.close(keep=True)
            raise

    def _start_session_bus(self):
        read_end, write_end = os.pipe()
        self.bus_log = open(os.path.join(self.dir, "dbus.log"), "w")
        # Its own process group: the services it starts (the accessibility bus and its
        # registry) end with it.
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nosyslog", f"--print-address={write_end}",
             f"--address=unix:path={os.path.join(self.dir, 'bus')}"], pass_fds=(write_end,),
            env=self.env, stdout=subprocess.DEVNULL, stderr=self.bus_log, start_new_session=True)
        os.close(write_end)
        address = b""
        while not address.endswith(b"\n"):
            chunk = os.read(read_end, 4096)
            if not chunk:
                raise Failure("the D-Bus session bus did not start (see dbus.log)")
            address += chunk
        os.close(read_end)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address.decode().strip()

    def _start_reader(self):
        # libatspi finds the accessibility bus through the session bus (or the display) it is
        # given when it first connects, so this process points at the private ones first.
        for key in ("AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"):
            os.environ.pop(key, None)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["DISPLAY"] = self.display
        import pyatspi
        from gi.repository import Gio, GLib
        self.pyatspi = pyatspi
        self.GLib = GLib
        # A screen reader says it runs: toolkits switch their bridge on when they see it.
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                          "Set", GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled",
                                                        GLib.Variant("b", True))),
                          None, Gio.DBusCallFlags.NONE, 10000, None)
        # Listening before the program starts: it learns at its start which events are wanted.
        pyatspi.Registry.registerEventListener(self._heard, NAME_CHANGED)

    def _heard(self, event):
        # Only the object: the program may be too busy to answer questions now. (The event's
        # data is no help either: Qt's bridge sends a reference to the object, not its new name,
        # so a reader asks the object for its name, as the scenarios do.)
        self.events.append(event.source)

    # -- reading the program ------------------------------------------------------------------

    def pump(self):
        """Delivers the events that arrived meanwhile."""
        context = self.GLib.MainContext.default()
        while context.pending():
            context.iteration(False)

    def reading(self, condition):
        """`condition` as a poll for wait_for: events are delivered first, and a question the
        program leaves unanswered (a job holds its event loop) counts as not yet."""
        def poll():
            self.pump()
            try:
                return condition()
            except self.GLib.Error:
                return None
        return poll

    def application(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop[i]
            if app is not None and app.get_process_id() == self.app.pid:
                return app
        return None

    def window(self, title):
        """The program's top-level window of that title, once the bridge shows it."""
        def find():
            app = self.application()
            if app is None:
                return None
            return next((app[i] for i in range(app.childCount)
                         if app[i] is not None and app[i].name == title), None)
        return wait_for(f"the window {title!r} over AT-SPI", self.reading(find), 30)

    def announced(self, source):
        """How many name changes were announced for `source` so far."""
        self.pump()
        return sum(1 for who in self.events if who == source)

    def announces(self, what, source, pattern, timeout, since=None):
        """Waits for a name change of `source` to be announced (after `since` announcements),
        and then for the object to read a name matching `pattern`; returns that name."""
        since = self.announced(source) if since is None else since
        wait_for(f"{what} to be announced", lambda: self.announced(source) > since, timeout)
        return wait_for(f"{what} to read as {pattern!r}", self.reading(
            lambda: re.fullmatch(pattern, source.name) and source.name), timeout)

    def focused(self, root):
        return next((a for a in descendants(root) if self.has(a, "STATE_FOCUSED")), None)

    def focus_moves_on(self, root, before):
        """The control the focus moves to from `before`, once it has moved."""
        def moved():
            now = self.focused(root)
            return now if now is not None and now != before else None
        return wait_for("the focus to move on", self.reading(moved), 30)

    def labels(self, accessible):
        """The names of the labels that stand for `accessible` (its labelled-by relation)."""
        return [target.name for relation in accessible.getRelationSet()
                if relation.getRelationType() == self.pyatspi.RELATION_LABELLED_BY
                for target in (relation.getTarget(i) for i in range(relation.getNTargets()))]

    def has(self, accessible, state):
        return accessible.getState().contains(getattr(self.pyatspi, state))

    def role(self, accessible):
        return accessible.getRoleName()

    # -- clean-up -----------------------------------------------------------------------------

    def close(self, keep):
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if self.bus is not None:
            try:
                os.killpg(self.bus.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            self.bus.wait()
            self.bus_log.close()
        super().close(keep)


def descendants(root):
    """Every accessible object below `root`, depth first."""
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(child for child in reversed([node[i] for i in range(node.childCount)])
                     if child is not None)


def find(root, what, condition):
    found = next((a for a in descendants(root) if condition(a)), None)
    if found is None:
        raise Failure(f"no {what} over AT-SPI")
    return found


def job_frame(s, name):
    """The sub-window of a job window in the main window's work area."""
    main = s.window("FormHalvorn")
    return wait_for(f"the job window {name} over AT-SPI", s.reading(lambda: next(
        (a for a in descendants(main)
         if s.role(a) == "frame" and a.name.splitlines()[:1] == [name]), None)), 30)


def press_run(s, letter):
    """F5 from the main window: a click on the slot's button takes the focus there first (an
    opened job window has it, and keeps its keys)."""
    s.click(*e2e.slot_button(letter))
    main = s.window("FormHalvorn")
    title = e2e.TITLES[letter]
    button = find(main, f"button {title!r}",
                  lambda a: a.name == title and s.role(a) == "push button")
    wait_for(f"the button {title!r} to take the focus",
             s.reading(lambda: s.has(button, "STATE_FOCUSED")), 30)
    s.keys("+F5", "-F5")


PICKER = "\u76ee\u9304\u8a2d\u5b9a"  # the file picker's title while it is open


def close_dialog(s, title):
    """Closes a dialog as its close box does."""
    s.close_window(wait_for(f"the window {title!r}", lambda: s.find_window(title), 30))
    wait_for(f"the window {title!r} to close", lambda: not s.windows(title), 30)


TIME = r"\d\d\D\d\d\D\d\d"  # a time of day, with the locale's separator


def roles_and_names(s, root):
    return {(s.role(a), a.name) for a in descendants(root)}


def missing(expected, present, limit=8):
    """Fails naming the expected (role, name, ...) controls that are not present."""
    def shown(value):
        text = repr(value)
        return text if len(text) <= 60 else f"{text[:50]}...({len(value)} characters)"
    absent = [" ".join([entry[0], *map(shown, entry[1:])]) for entry in expected
              if entry not in present]
    if absent:
        more = f" and {len(absent) - limit} more" if len(absent) > limit else ""
        raise Failure(f"{len(absent)} controls not found over AT-SPI: "
                      f"{', '.join(absent[:limit])}{more}")


# -- the scenarios ------------------------------------------------------------------------------


# Titles as people and other tools leave them, with the name each button is read by: the title
# itself, or the slot's letter when the title shows nothing.
ODD_TITLES = {
    "D": ("\u8cc7\u6599\u5eab \u5831\u8868", "\u8cc7\u6599\u5eab \u5831\u8868"),
    "E": ("\u00a0 \t", "Slot E"),
    "F": ("First\r\nSecond", "First\r\nSecond"),
    "G": ("x" * 5000, "x" * 5000),
}


def slot_buttons_say_their_titles_and_keys(s):
    s.seed(e2e.TITLES)
    s.seed({letter: title for letter, (title, _) in ODD_TITLES.items()})
    s.start()
    main = s.window("FormHalvorn")
    if s.role(main) != "frame":
        raise Failure(f"the main window reads as a {s.role(main)}, not as a frame")
    present = {(s.role(a), a.name, a.description) for a in descendants(main)}
    expected = []
    for n in range(26):
        letter = chr(ord("A") + n)
        name = e2e.TITLES.get(letter) or ODD_TITLES.get(letter, (None, f"Slot {letter}"))[1]
        expected.append(("push button", name, f"Slot {letter}, Ctrl+{letter}"))
    expected += [("push button", "Run", "Setup Link Data (F5)"),
                 ("push button", "Tile", "Set Tile Window (F6)")]
    missing(expected, present)


def the_setup_dialog_names_every_row(s):
    s.seed(e2e.TITLES)
    s.start()
    s.keys("+ctrl", "+F10")
    dialog = s.window("FormLinkFile")
    s.keys("-F10", "-ctrl")
    if s.role(dialog) != "dialog":
        raise Failure(f"the setup dialog reads as a {s.role(dialog)}, not as a dialog")
    expected = []
    for n in range(26):
        letter = chr(ord("A") + n)
        expected += [("text", f"Title of slot {letter}"), ("text", f"File of slot {letter}"),
                     ("push button", f"Parameters of slot {letter}"),
                     ("push button", f"Browse for the file of slot {letter}")]
    missing(expected, roles_and_names(s, dialog))

    # The row's letter beside the title is its label: a screen reader reads both together.
    title_a = find(dialog, "title of slot A", lambda a: a.name == "Title of slot A")
    labels = s.labels(title_a)
    if labels != ["A"]:
        raise Failure(f"the title of slot A is labelled by {labels}, not by its letter")

    # Tab moves the focus on to the rows; each control it reaches says what it is. F2 then
    # opens the parameters of the row that has the focus.
    focused = wait_for("a focused control in the setup dialog",
                       s.reading(lambda: s.focused(dialog)), 30)
    heard = []
    while True:
        heard.append(f"{s.role(focused)} {focused.name!r}")
        if not focused.name.strip():
            raise Failure(f"the focus reaches an unnamed control: {', '.join(heard)}")
        row = re.fullmatch(r"(?:Title|File) of slot ([A-Z])", focused.name)
        if row:
            break
        if len(heard) > 6:
            raise Failure(f"Tab does not reach a row: {', '.join(heard)}")
        s.keys("+Tab", "-Tab")
        focused = s.focus_moves_on(dialog, focused)
    s.keys("+F2", "-F2")
    title = f"Quorvane\\{row[1]}"
    detail = s.window(title)
    missing([("text", f"Parameter {n:02}") for n in range(1, 19)], roles_and_names(s, detail))
    close_dialog(s, title)

    # Back in the row, F4 opens its file picker.
    wait_for("the focus back in the row", s.reading(lambda: s.focused(dialog) == focused), 30)
    s.keys("+F4", "-F4")
    picker = s.window(PICKER)
    missing([("text", "Directory name"), ("list", "Directories"), ("list", "Files")],
            roles_and_names(s, picker))
    # Qt names a combo box on this platform by its current item and leaves its purpose to the
    # label beside it: the drive list reads as "Drives:" and the drive it shows.
    drives = find(picker, "drive list", lambda a: s.role(a) == "combo box")
    if s.labels(drives) != ["Drives:"] or not re.fullmatch(r"[a-z]: \[.*\]", drives.name):
        raise Failure(f"the drive list reads as {s.labels(drives)} {drives.name!r}")
    close_dialog(s, PICKER)
    close_dialog(s, "FormLinkFile")


def a_job_panel_reads_and_announces_its_caption(s):
    s.seed(e2e.TITLES)
    s.start()
    s.open_slot("A")
    job = job_frame(s, "TFormAutoA")
    progress = find(job, "progress bar", lambda a: s.role(a) == "progress bar")
    if progress.name != "Job progress":
        raise Failure(f"the progress bar is named {progress.name!r}")
    find(job, "memo 'Notes'", lambda a: a.name == "Notes" and s.role(a) == "text")
    # The panel is the frame that holds the start and end times.
    start = find(job, "start time", lambda a: a.name == "Start Time")
    end = find(job, "end time", lambda a: a.name == "End Time")
    panel = start.parent
    if s.role(panel) not in ("label", "static") or panel.name != "Job":
        raise Failure(f"the job's panel reads as {s.role(panel)} {panel.name!r}, "
                      "not as the static text 'Job'")

    before = {who: s.announced(who) for who in (panel, start, end)}
    press_run(s, "A")
    # Run gives the panel the job's name as its caption; the job runs two seconds later, and
    # its start and end times appear as they come.
    s.announces("the panel's caption", panel, "TFormAutoA", 30, before[panel])
    s.announces("the start time", start, f"Start : {TIME}", 60, before[start])
    s.announces("the end time", end, f"End   : {TIME}", 60, before[end])


def the_database_clock_is_announced_as_it_ticks(s):
    s.seed(e2e.TITLES)
    s.add_sqlite_source()
    s.start()
    s.open_slot("Q")
    if s.windows("quorvane"):
        raise Failure("the database job window reported an error on opening")
    job = job_frame(s, "TFormAutoQ")
    clock = find(job, "clock", lambda a: a.name == "Clock")
    if s.role(clock) not in ("label", "static"):
        raise Failure(f"the clock reads as {s.role(clock)}, not as a static text")
    for role, name in (("progress bar", "Job progress"), ("table", "Source data"),
                       ("table", "Target data")):
        find(job, f"{role} {name!r}", lambda a: a.name == name and s.role(a) == role)

    before = s.announced(clock)
    press_run(s, "Q")
    # The clock shows seconds and ticks on during the run: each new second is announced.
    first = s.announces("the clock's time", clock, TIME, 30, before)
    since = s.announced(clock)
    second = s.announces("the clock's next time", clock, TIME, 30, since)
    if second == first:
        raise Failure(f"the clock was announced but still reads {first}")
    print(f"clock announced: {first}, then {second}")


SCENARIOS = {
    "atspi_slot_buttons": slot_buttons_say_their_titles_and_keys,
    "atspi_setup_dialog": the_setup_dialog_names_every_row,
    "atspi_job_panel": a_job_panel_reads_and_announces_its_caption,
    "atspi_database_clock": the_database_clock_is_announced_as_it_ticks,
}


if __name__ == "__main__":
    sys.exit(e2e.main(SCENARIOS, AccessibleSession, tools=("dbus-daemon",)))
