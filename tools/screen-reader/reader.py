#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# A screen reader's review of a window over the accessibility bus: of every
# object its role, name, states, attributes, text, extents on the screen and
# in the window, image and actions, each answer timed. The accessibility test
# imports it; alone, `reader.py APP_NAME` reads the application over and over
# until SIGTERM, then prints its readings, the slowest (and its objects) and
# the slowest answer.
import signal
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi as A  # noqa: E402
from gi.repository import GLib  # noqa: E402

# Action names come through get_action_name, which the bindings call deprecated
# but still give no other way to.
warnings.filterwarnings("ignore", category=DeprecationWarning)
SCREEN, WINDOW = A.CoordType.SCREEN, A.CoordType.WINDOW
# What the review asks of each object: (interface, request, its arguments).
QUESTIONS = [
    (None, A.Accessible.get_role_name, ()), (None, A.Accessible.get_name, ()),
    (None, A.Accessible.get_state_set, ()), (None, A.Accessible.get_attributes, ()),
    ("Text", A.Text.get_text, (0, -1)),
    ("Component", A.Component.get_extents, (SCREEN,)), ("Component", A.Component.get_extents, (WINDOW,)),
    ("Image", A.Image.get_image_description, ()), ("Image", A.Image.get_image_extents, (SCREEN,)),
    ("Action", A.Action.get_n_actions, ()),
]


class Stats:
    readings = 0
    slowest_reading = slowest_answer = 0.0
    slowest_objects = 0
    slowest_request = ""

    def ask(self, request, *args):
        # The window's notifications that came meanwhile first, so that the
        # time is the answer's alone.
        while GLib.MainContext.default().iteration(False):
            pass
        began = time.monotonic()
        try:
            return request(*args)
        finally:
            if (took := time.monotonic() - began) > self.slowest_answer:
                self.slowest_answer, self.slowest_request = took, request.__name__


def find(name, seconds=20):
    """The application of that name on the bus; every answer is asked anew, only interfaces are kept."""
    desktop, deadline = A.get_desktop(0), time.monotonic() + seconds
    while time.monotonic() < deadline:
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == name:
                app.set_cache_mask(A.Cache.INTERFACES)
                return app
        time.sleep(0.1)
    return None


def read(app, stats, after_each=None):
    """One whole reading, [(object, role, name)], or None when an object went away meanwhile;
    after_each, when given, is called after each object's answers."""
    began, seen = time.monotonic(), []

    def visit(node, depth):
        interfaces = stats.ask(A.Accessible.get_interfaces, node)
        answers = [stats.ask(request, node, *args) for interface, request, args in QUESTIONS
                   if interface is None or interface in interfaces]
        if "Action" in interfaces:
            answers += [stats.ask(A.Action.get_action_name, node, i) for i in range(answers[-1])]
        seen.append((node, answers[0], answers[1]))
        if after_each:
            after_each()
        for i in range(stats.ask(A.Accessible.get_child_count, node) if depth < 8 else 0):
            child = stats.ask(A.Accessible.get_child_at_index, node, i)
            if child is None:
                raise GLib.Error("gone")
            visit(child, depth + 1)
    try:
        visit(app, 0)
    except GLib.Error:  # a list item taken off while it was read: read again, as a screen reader would
        return None
    stats.readings += 1
    if (took := time.monotonic() - began) > stats.slowest_reading:
        stats.slowest_reading, stats.slowest_objects = took, len(seen)
    return seen


def main():
    app, stats, stop = find(sys.argv[1]), Stats(), []
    if app is None:
        sys.exit(f"reader: no {sys.argv[1]} on the accessibility bus")
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    read(app, Stats())
    print("reading", flush=True)
    while not stop:
        read(app, stats)
    print(f"reader: {stats.readings} readings, the slowest {stats.slowest_reading * 1000:.0f} ms "
          f"({stats.slowest_objects} objects), "
          f"the slowest answer {stats.slowest_answer * 1000:.1f} ms", flush=True)


if __name__ == "__main__":
    main()
