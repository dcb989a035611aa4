#!/usr/bin/python3
"""Reads Vellora's window as a screen reader does, over AT-SPI.

Starts an X server (Xvfb -displayfd), a session bus and an accessibility bus of its own, and the app on
a store of its own in temporary folders. Checks the names, roles and states of the Today sheet's rows, the Backlog's
rows and the Settings switches. Exits 77 (skipped) with the reason when a program it needs is missing.
"""
import os
import shutil
import socket
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def wait_for(what, predicate, timeout=30.0):
    """Polls until the predicate gives something true; fails the test with `what` after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except Exception as error:  # an object the app replaced while the tree was read: read it again
            value, last = None, error
        else:
            last = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what + (": " + str(last) if last else ""))
        time.sleep(0.05)


class Children:
    """Child processes that are always stopped, in reverse order of starting."""

    def __init__(self):
        self.processes = []

    def start(self, arguments, **options):
        process = subprocess.Popen(arguments, start_new_session=True, **options)
        self.processes.append(process)
        return process

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def find_app(pyatspi):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name.lower().startswith("vellora"):
            return app
    return None


def nodes(app, role, pyatspi):
    """Every showing node of the role, by name."""
    found = {}
    for node in walk(app):
        if node.getRole() == role and node.getState().contains(pyatspi.STATE_SHOWING):
            found[node.name] = node
    return found


def press(node, pyatspi):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "Press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


def main():
    if len(sys.argv) != 2:
        print("usage: atspi-test.py PATH-TO-vellora")
        return 2
    vellora = sys.argv[1]
    if not shutil.which("Xvfb"):
        skip("Xvfb is missing (scripts/install-deps installs it)")
    if not shutil.which("dbus-daemon"):
        skip("dbus-daemon is missing (scripts/install-deps installs it)")
    if not os.access(BUS_LAUNCHER, os.X_OK):
        skip(BUS_LAUNCHER + " is missing (package at-spi2-core)")

    children = Children()
    with tempfile.TemporaryDirectory(prefix="vellora-atspi-") as root:
        try:
            return run(vellora, root, children)
        finally:
            children.stop()


def x_server_answers(display):
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.connect("/tmp/.X11-unix/X" + display)
        return True
    except OSError:
        return False


def run(vellora, root, children):
    env = dict(os.environ)
    for name in ("XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "HOME"):
        folder = os.path.join(root, name.lower())
        os.makedirs(folder, mode=0o700)
        env[name] = folder
    env.update(LANG="en_US.UTF-8", TZ="UTC", QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               NO_AT_BRIDGE="0")
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    env.pop("XAUTHORITY", None)

    # An X server of the test's own on a free display, which it names once it listens.
    reader, writer = os.pipe()
    # -noreset: a server that resets when its last client leaves (the bus launcher, this script's probe) refuses
    # whoever connects meanwhile.
    children.start(["Xvfb", "-displayfd", str(writer), "-noreset", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(writer)
    with os.fdopen(reader) as named:
        display = named.readline().strip()
    if not display:
        raise AssertionError("Xvfb named no display")
    wait_for("the X server", lambda: x_server_answers(display))
    env["DISPLAY"] = ":" + display

    bus = children.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE,
                         env=env, text=True)
    address = bus.stdout.readline().strip()
    if not address:
        raise AssertionError("dbus-daemon gave no address")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    children.start([BUS_LAUNCHER, "--launch-immediately"], env=env)
    # The library reads the addresses when it is first loaded: only now.
    os.environ.update(env)
    try:
        import pyatspi
    except ImportError:
        skip("python3-pyatspi is missing (scripts/install-deps installs it)")

    store = os.path.join(root, "vellora.json")
    for arguments in (["add", "Plan the week", "--block", "big"], ["add", "Book the dentist", "--block", "medium"],
                      ["add", "Fix the bike", "--block", "big"], ["done", "1.0"]):
        subprocess.run([vellora, *arguments, "--store", store], env=env, check=True, stdout=subprocess.DEVNULL)

    children.start([vellora, "--store", store], env=env)
    app = wait_for("the app on the accessibility bus", lambda: find_app(pyatspi))
    rows = wait_for("the rows of Today", lambda: (lambda r: r if len(r) >= 9 else None)(
        nodes(app, pyatspi.ROLE_LIST_ITEM, pyatspi)))

    failures = []

    def check(condition, text):
        if not condition:
            failures.append(text)

    names = sorted(rows)
    check("Medium task 1 of 3: Book the dentist" in rows, "the first medium row, got " + repr(names))
    done = rows.get("Big task 1 of 1: Plan the week, done")
    check(done is not None, "the done row, got " + repr(names))
    if done is not None:
        states = done.getState()
        check(states.contains(pyatspi.STATE_CHECKED), "the done row is checked")
    open_row = rows.get("Medium task 1 of 3: Book the dentist")
    if open_row is not None:
        check(not open_row.getState().contains(pyatspi.STATE_CHECKED), "an open task is not checked")
    check("Medium task 2 of 3: empty" in rows, "an empty row, got " + repr(names))
    check("Small task 5 of 5: empty" in rows, "the last row, got " + repr(names))

    buttons = nodes(app, pyatspi.ROLE_PUSH_BUTTON, pyatspi)
    for glyph in ("↑", "↓", "×", "⚙", "← Backlog"):
        check(glyph not in buttons, "a button is named by its glyph " + glyph)
    hidden_names = {node.name for node in walk(app) if node.getRole() == pyatspi.ROLE_PUSH_BUTTON}
    check("Delete Book the dentist" in hidden_names, "the hover delete button is named by its task")
    check("Move down Book the dentist" in hidden_names, "the hover step button is named by its task")

    press(wait_for("the Backlog button", lambda: buttons.get("Backlog")), pyatspi)
    backlog = wait_for("the Backlog rows", lambda: (lambda r: r if "Big task: Fix the bike, waits for a free row" in r
                                                   else None)(nodes(app, pyatspi.ROLE_LIST_ITEM, pyatspi)), 10)
    check(len(backlog) == 1, "one Backlog row, got " + repr(sorted(backlog)))
    backlog_buttons = {node.name for node in walk(app) if node.getRole() == pyatspi.ROLE_PUSH_BUTTON}
    check("Delete Fix the bike" in backlog_buttons, "the Backlog's delete button is named by its task")

    press(wait_for("the way back to Today", lambda: nodes(app, pyatspi.ROLE_PUSH_BUTTON, pyatspi).get("Today")),
          pyatspi)
    press(wait_for("the Settings button", lambda: nodes(app, pyatspi.ROLE_PUSH_BUTTON, pyatspi).get("Settings")),
          pyatspi)
    wanted = ("Show in taskbar", "Show icon in the system tray", "Launch at login")

    def switches():
        found = {}
        for node in walk(app):
            if node.name in wanted and node.getState().contains(pyatspi.STATE_SHOWING):
                found[node.name] = node
        return found if len(found) == len(wanted) else None

    for name, node in wait_for("the Settings switches", switches, 10).items():
        # A toggle button or a check box says on or off by its checked state.
        check(node.getRole() in (pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX),
              name + " reads as a switch, got " + node.getRoleName())
    on = {name: node.getState().contains(pyatspi.STATE_CHECKED) for name, node in switches().items()}
    # The tray icon's switch follows whether this display has a tray, so only the other two are fixed here.
    check(on["Show in taskbar"] and not on["Launch at login"],
          "the switches' states, got " + repr(on))
    shortcut = [node for node in walk(app) if node.name == "Global shortcut" and node.getRole() != pyatspi.ROLE_LABEL]
    check(shortcut, "the shortcut recorder is named")

    for failure in failures:
        print("FAILED: " + failure)
    print("%d checks failed" % len(failures) if failures else "all accessible names, roles and states as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
