#!/usr/bin/python3
"""Reads Vellora's window as a screen reader does, over AT-SPI: on an X server, a session bus and an accessibility
bus of its own, with the app on a store in temporary folders. Exits 77 (skipped) when a program it needs is missing."""
import os
import shutil
import signal
import subprocess
import sys
import datetime
import tempfile
import time

BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(77)


def pump():
    """Delivers the events that arrived to their listeners."""
    from gi.repository import GLib
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(what, predicate, timeout=30.0, required=True):
    """Polls until the predicate gives something true; after the timeout, fails the test with `what`, or gives None
    when it is not required."""
    deadline = time.monotonic() + timeout
    while True:
        pump()
        try:
            value = predicate()
        except Exception:  # an object the app replaced while the tree was read: read it again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            if not required:
                return None
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def main():
    vellora = sys.argv[1]
    for program in ("Xvfb", "dbus-daemon", BUS_LAUNCHER, "xdotool"):
        if not shutil.which(program):
            skip(program + " is missing (scripts/install-deps installs it)")
    children = []
    with tempfile.TemporaryDirectory(prefix="vellora-atspi-") as root:
        try:
            return run(vellora, root, children)
        finally:
            for process in reversed(children):  # always stopped, the last started first
                if process.poll() is None:
                    os.killpg(process.pid, signal.SIGTERM)
                    try:
                        process.wait(timeout=10)
                    except subprocess.TimeoutExpired:
                        os.killpg(process.pid, signal.SIGKILL)
                        process.wait()


def run(vellora, root, children):
    def start(arguments, **options):
        children.append(subprocess.Popen(arguments, start_new_session=True, **options))
        return children[-1]

    env = dict(os.environ)
    for name in ("XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME"):
        env[name] = os.path.join(root, name.lower())
        os.makedirs(env[name], mode=0o700)
    env.update(LANG="en_US.UTF-8", TZ="UTC", QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               NO_AT_BRIDGE="0")
    env.pop("XAUTHORITY", None)

    # An X server on a free display, which it names once it accepts connections. -noreset: a server that resets when
    # its last client leaves refuses whoever connects meanwhile.
    reader, writer = os.pipe()
    start(["Xvfb", "-displayfd", str(writer), "-noreset", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
          pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(writer)
    with os.fdopen(reader) as named:
        display = named.readline().strip()
    if not display:
        raise AssertionError("Xvfb named no display")
    env["DISPLAY"] = ":" + display

    bus = start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE, text=True,
                env=env)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    start([BUS_LAUNCHER, "--launch-immediately"], env=env)
    # The library reads the addresses when it is first loaded: only now.
    os.environ.update(env)
    try:
        import pyatspi
    except ImportError:
        skip("python3-pyatspi is missing (scripts/install-deps installs it)")

    # Listening before the app starts: it asks which events are wanted as it joins the bus, so none is missed.
    announced = []

    def on_showing(event):
        try:
            if event.detail1:
                announced.append((event.source.getRole(), event.source.name))
        except Exception:  # gone before it was read
            pass

    pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")

    store = os.path.join(root, "vellora.json")
    for arguments in (["add", "Plan the week", "--block", "big"], ["add", "Book the dentist", "--block", "medium"],
                      ["add", "Fix the bike", "--block", "big"], ["done", "1.0"]):
        subprocess.run([vellora, *arguments, "--store", store], env=env, check=True, stdout=subprocess.DEVNULL)
    start([vellora, "--store", store], env=env)

    def find_app():
        desktop = pyatspi.Registry.getDesktop(0)
        apps = (desktop.getChildAtIndex(i) for i in range(desktop.childCount))
        return next((a for a in apps if a is not None and a.name.lower().startswith("vellora")), None)

    app = wait_for("the app on the accessibility bus", find_app)

    def showing(role=None):
        """Every showing node (of the role), by name."""
        return {node.name: node for node in walk(app)
                if (role is None or node.getRole() == role) and node.getState().contains(pyatspi.STATE_SHOWING)}

    failures = []

    def check(condition, text):
        if not condition:
            failures.append(text)

    def buttons_by_name():
        return {node.name: node for node in walk(app) if node.getRole() == pyatspi.ROLE_PUSH_BUTTON}

    def press(node):
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        action.doAction(next((i for i, n in enumerate(names) if n in ("press", "Press", "click")), 0))

    def check_focusables(page):
        """Every object on screen that the keyboard can reach has a name: an unnamed one is a silent stop."""
        reachable = (pyatspi.STATE_FOCUSABLE, pyatspi.STATE_SHOWING)
        nameless = [node.getRoleName() + " in " + node.parent.getRoleName() + " " + repr(node.parent.name)
                    for node in walk(app) if all(map(node.getState().contains, reachable)) and not node.name]
        check(not nameless, "nameless focusable objects on " + page + ": " + ", ".join(nameless))

    rows = wait_for("the rows of Today", lambda: (lambda r: r if len(r) >= 9 else None)(
        showing(pyatspi.ROLE_LIST_ITEM)))
    done = rows.get("Big task 1 of 1: Plan the week, done")
    open_row = rows.get("Medium task 1 of 3: Book the dentist")
    check(done is not None and done.getState().contains(pyatspi.STATE_CHECKED), "the done row, got " + repr(rows))
    check(open_row is not None and not open_row.getState().contains(pyatspi.STATE_CHECKED), "an open row")
    check("Small task 5 of 5: empty" in rows, "the last, empty row")
    buttons = showing(pyatspi.ROLE_PUSH_BUTTON)
    for glyph in ("↑", "↓", "×", "⚙", "← Backlog"):
        check(glyph not in buttons, "a button is named by its glyph " + glyph)
    check({"Delete Book the dentist", "Move down Book the dentist"} <= buttons_by_name().keys(),
          "the hover buttons are named by their task")

    # The header and the blocks read as the page shows them, and every row sits in the sheet's list.
    now = datetime.datetime.now(datetime.timezone.utc)
    minute = datetime.timedelta(minutes=1)
    dates = {f"{d:%A}, {d:%B} {d.day}" for d in (now - minute, now + minute)}
    labels = showing(pyatspi.ROLE_LABEL)
    check(dates & labels.keys(), "the date as a label, got " + repr(sorted(labels)))
    check("3 items" in labels, "the count as a label")
    headings = showing(pyatspi.ROLE_HEADING)
    check({"Today", "BIG", "MEDIUM", "SMALL"} <= headings.keys(), "the headings, got " + repr(sorted(headings)))
    for name, row in rows.items():
        check(row.parent.getRole() == pyatspi.ROLE_LIST and row.parent.name == "Today", name + " is in the list Today")

    # A note is read out as it appears, also one that replaces another; its button says what it undoes.
    for title in ("Book the dentist", "Plan the week"):
        press(wait_for("the delete button of " + title, lambda: buttons_by_name().get("Delete " + title)))
        note = "Deleted \u201c" + title + "\u201d"
        check(wait_for("", lambda: (pyatspi.ROLE_NOTIFICATION, note) in announced, 10, False),
              "the note read out as it appeared: " + note + ", heard " + repr([name for _, name in announced]))
        check("Undo delete of \u201c" + title + "\u201d" in showing(pyatspi.ROLE_PUSH_BUTTON), "the note's button")

    check_focusables("Today")
    press(showing(pyatspi.ROLE_PUSH_BUTTON)["Backlog"])
    backlog = wait_for("the Backlog's rows", lambda: showing(pyatspi.ROLE_LIST_ITEM).get("Big task: Fix the bike"))
    check(backlog.parent.getRole() == pyatspi.ROLE_LIST and backlog.parent.name == "Backlog", "the Backlog's list")
    check("Backlog" in showing(pyatspi.ROLE_HEADING) and "1 item" in showing(pyatspi.ROLE_LABEL), "its header")
    check_focusables("Backlog")
    press(showing(pyatspi.ROLE_PUSH_BUTTON)["Today"])

    # Typed on a full sheet, the note that offers the Backlog is read out once as it appears, not at every key; the
    # note of a delete that follows marks the end of what was heard.
    for i in range(9):
        block = "big" if i == 0 else "medium" if i < 4 else "small"
        subprocess.run([vellora, "add", "Task %d" % i, "--block", block, "--store", store], env=env, check=True,
                       stdout=subprocess.DEVNULL)
    wait_for("a full sheet", lambda: "Small task 5 of 5: Task 8" in showing(pyatspi.ROLE_LIST_ITEM))
    wait_for("the sheet", lambda: showing(pyatspi.ROLE_FILLER).get("Today")).queryComponent().grabFocus()
    frame = app.getChildAtIndex(0).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    # Without a window manager the keys go to the window under the pointer: the desk beside the sheet.
    subprocess.run(["xdotool", "mousemove", str(frame.x + 5), str(frame.y + frame.height // 2)], env=env, check=True)
    heard = len(announced)
    subprocess.run(["xdotool", "type", "--delay", "30", "Slow"], env=env, check=True)
    full = "The sheet is full: \u201cSlow\u201d can wait in the Backlog"
    check(wait_for("", lambda: full in showing(pyatspi.ROLE_NOTIFICATION), 10, False), "the note of a full sheet")
    check("Put \u201cSlow\u201d in Backlog" in showing(pyatspi.ROLE_PUSH_BUTTON), "the full sheet's button")
    press(buttons_by_name()["Delete Task 0"])
    marker = (pyatspi.ROLE_NOTIFICATION, "Deleted \u201cTask 0\u201d")
    wait_for("the note of the delete", lambda: marker in announced[heard:], 10)
    notes = [name for role, name in announced[heard:] if role == pyatspi.ROLE_NOTIFICATION]
    check(len(notes) == 2, "the full sheet's note read out once, then the delete's, heard " + repr(notes))

    press(wait_for("the Settings button", lambda: showing(pyatspi.ROLE_PUSH_BUTTON).get("Settings")))
    wanted = ("Show in taskbar", "Show icon in the system tray", "Launch at login")
    switches = wait_for("the Settings switches", lambda: (lambda s: s if len(s) == len(wanted) else None)(
        {name: node for name, node in showing().items() if name in wanted}), 10)
    for name, node in switches.items():
        check(node.getRole() in (pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX), name + " reads as a switch")
    # The tray icon's switch follows whether this display has a tray, so only the other two are fixed here.
    check(switches["Show in taskbar"].getState().contains(pyatspi.STATE_CHECKED)
          and not switches["Launch at login"].getState().contains(pyatspi.STATE_CHECKED), "the switches' states")
    check(any(node.name == "Global shortcut" and node.getRole() != pyatspi.ROLE_LABEL for node in walk(app)),
          "the shortcut recorder is named")
    check("Clear shortcut" in buttons_by_name(), "the shortcut's clear button is named")
    check({"TEXT SIZE", "APPEARANCE", "NEW DAY", "WINDOW"} <= showing(pyatspi.ROLE_HEADING).keys(), "the sections")

    # The choices read as radio buttons, the selected one checked; choosing another moves the check.
    def checked_choices():
        return {name for name, node in showing(pyatspi.ROLE_RADIO_BUTTON).items()
                if node.getState().contains(pyatspi.STATE_CHECKED)}
    choices = showing(pyatspi.ROLE_RADIO_BUTTON)
    check({"Small", "Medium", "Large", "Auto", "Light", "Dark"} <= choices.keys(), "the choices, got " + repr(choices))
    check(checked_choices() == {"Medium", "Auto"}, "the selected choices, got " + repr(checked_choices()))
    groups = [choices[c].parent for c in ("Small", "Dark") if c in choices]
    check([(g.getRole(), g.name) for g in groups]
          == [(pyatspi.ROLE_PANEL, "Text size"), (pyatspi.ROLE_PANEL, "Appearance")],
          "the choices are grouped under what they choose")
    if "Large" in choices:
        press(choices["Large"])
        check(wait_for("", lambda: checked_choices() == {"Large", "Auto"}, 10, False), "Large chosen")
    check_focusables("Settings")

    print("\n".join("FAILED: " + f for f in failures) or "all accessible names, roles and states as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
