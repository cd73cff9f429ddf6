#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The window read over the accessibility bus as a screen reader reads it
# (tools/screen-reader), reading after reading, while it scans each range
# below, a row pressing a button just after a probe began. How fast it answers
# is tools/bench-window's. Run in with-a11y-bus.sh on the simulated network's probe side:
#   a11y.py ZN7QX_FINDER ZN7QX_SIM
import os, subprocess, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/screen-reader"))
try:
    import reader
    from reader import A
except (ImportError, ValueError):
    print("SKIP: the Atspi bindings are not installed", file=sys.stderr)
    sys.exit(77)

finder, sim = sys.argv[1:3]
env = os.environ
if subprocess.run([sim, "--check-isolation", "--probe-link", env.get("ZN7QX_PROBE_IF", "none"), "--ranges",
                   env.get("ZN7QX_TEST_RANGES", "")], stdout=subprocess.DEVNULL).returncode != 0:
    sys.exit("a11y: not in an isolated test network: nothing sent")
BUTTONS, TEXTS = {"push button", "button"}, {"text", "entry"}  # as each release of the bus names them
# The status that the last probe shows only while it waits, since the same
# tick writes the summary after it: read, it shows the window answers inside a
# probe's wait, not only between probes.
LAST_WAIT = "Pinging 198.18.0.64. Addresses remaining: 0"
ROWS = [  # start, end, the button pressed in mid-scan, the status the scan ends on, a status it must show
    ("198.18.0.50", "198.18.0.64", None, "Completed scanning. No ZN7QX units found.", LAST_WAIT),  # silent
    ("198.18.0.9", "198.18.0.40", None, "Completed scanning. 5 ZN7QX unit(s) found.", None),  # units, hosts, errors
    ("198.18.0.65", "198.18.0.99", "Cancel Scan", "Scan canceled. Found 0 ZN7QX unit(s).", None),  # after its probe
]


def echo_requests():  # sent from this namespace, whatever the socket
    names, values = [line.split() for line in open("/proc/self/net/snmp") if line.startswith("IcmpMsg:")]
    return int(dict(zip(names, values)).get("OutType8", 0))


def scan(start, end, press, summary, must_show):
    """Reads the window throughout a scan, and the status after each object; what must hold."""
    stats, last, pressed, deadline = reader.Stats(), None, press is None, time.monotonic() + 40
    seen = set()
    for box, text in zip(boxes, (start, end)):
        A.EditableText.set_text_contents(box, text)
    text = before = A.Accessible.get_name(status)
    stats.ask(A.Action.do_action, button["Begin Scan"], 0)
    while A.Accessible.get_name(status) == before and time.monotonic() < deadline:
        time.sleep(0.01)  # the press is a click, 100 ms long
    while time.monotonic() < deadline and (text := stats.ask(A.Accessible.get_name, status)) != summary:
        seen.add(text)
        if pressed or stats.readings < 2:
            reader.read(app, stats, lambda: seen.add(stats.ask(A.Accessible.get_name, status)))
        elif last is not None and text != last and text.startswith("Pinging"):  # a probe has just begun
            pressed = stats.ask(A.Action.do_action, button[press], 0)
        else:
            last = text
    sent = echo_requests()
    time.sleep(0.6)
    return {"it ends on its summary, which stays": A.Accessible.get_name(status) == text == summary,
            "no echo request after it": echo_requests() == sent,
            "two whole readings or more": stats.readings >= 2,
            f"it showed {must_show!r}": must_show is None or must_show in seen}


window, failed = subprocess.Popen([finder]), []
try:
    app, idle = reader.find("ZN7QX IP Address Finder"), None
    assert app, "the window is not on the accessibility bus"
    while idle is None:
        idle = reader.read(app, reader.Stats())
    button = {name: node for node, role, name in idle if role in BUTTONS}
    boxes = [node for node, role, _ in idle if role in TEXTS]
    status = next(node for node, role, name in idle if role == "label" and name == "Waiting to begin scan...")
    for row in ROWS:
        failed += [f"{row[0]}-{row[1]}: {what}" for what, ok in scan(*row).items() if not ok]
finally:
    window.terminate()
    window.wait(10)
print("\n".join(["FAIL: " + what for what in failed]) or "all rows hold")
sys.exit(1 if failed else 0)
