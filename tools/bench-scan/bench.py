#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""zn7qx-scan beside fping and nmap in the simulated network (inside the
probe namespace that with-sim-network.sh builds; see bench.sh).

Prints wall times, ratios to the ideal and to the other tools, and for each
tool what it missed and what it reported falsely, judged against what the
simulator was configured to do."""

import csv
import io
import ipaddress
import json
import os
import re
import statistics
import subprocess
import sys
import time

TIMEOUT_MS = 300
LAN = "198.18.0.0/23"
WIDE = "198.19.0.0/16"
DEFAULT_RATE = 20000
RATE_CEILING = 100000
PAYLOAD = 98
TRICKS = ("bad_checksum", "wrong_identifier", "wrong_sequence", "source", "from", "truncate_to")


def die(message):
    print(f"bench: {message}", file=sys.stderr)
    sys.exit(1)


def assert_isolated():
    if os.environ.get("ZN7QX_TEST_NETNS") != "1":
        die("not inside the test harness: run bench.sh, never this script directly")
    links = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True, check=True).stdout
    names = sorted(line.split(": ")[1].split("@")[0] for line in links.splitlines() if line.strip())
    if names != sorted(["lo", os.environ["ZN7QX_PROBE_IF"]]):
        die(f"not isolated: links {names}")
    routes = subprocess.run(["ip", "-4", "route", "show", "table", "all"], capture_output=True, text=True).stdout
    if any(line.startswith("default") for line in routes.splitlines()):
        die("not isolated: default route")


def expand(entry):
    if "address" in entry:
        return [int(ipaddress.IPv4Address(entry["address"]))]
    text = entry["range"]
    if "/" in text:
        net = ipaddress.IPv4Network(text, strict=False)
        return range(int(net.network_address), int(net.broadcast_address) + 1)
    first, last = (int(ipaddress.IPv4Address(t)) for t in text.split("-"))
    return range(first, last + 1)


def truth(config_path, probe_address):
    """address -> (category, unit text or None); unlisted addresses are silent."""
    config = json.load(open(config_path))
    by_range, by_address = {}, {}
    for entry in config["replies"]:
        target = by_address if "address" in entry else by_range
        for a in expand(entry):
            target[a] = entry  # single addresses win; later ranges win
    merged = {**by_range, **by_address}
    result = {}
    for a, e in merged.items():
        kind = e["as"]
        tricks = [t for t in TRICKS if t in e and e[t] not in (False, 0)]
        if kind == "error":
            result[a] = ("error", None)
        elif tricks:
            result[a] = (tricks[0], None)
        elif kind == "silent" or (e.get("delay_ms", 0) >= TIMEOUT_MS):
            result[a] = ("late" if kind != "silent" else "silent", None)
        elif kind == "unit":
            result[a] = ("reply", e["text"])
        elif kind == "data":
            data = bytes.fromhex(e["data_hex"]) if "data_hex" in e else e["data_text"].encode()
            text = data[6:].split(b"\0")[0].decode("latin-1") if data.startswith(b"Found.") else None
            result[a] = ("reply", text)
        else:
            result[a] = ("reply", None)
    result[int(ipaddress.IPv4Address(probe_address))] = ("reply", None)  # the probe's own kernel answers
    return result


def timed(command, limit):
    start = time.monotonic()
    try:
        done = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=limit)
    except subprocess.TimeoutExpired:
        return None, "", "", time.monotonic() - start
    return done.returncode, done.stdout, done.stderr, time.monotonic() - start


def ip(text):
    return int(ipaddress.IPv4Address(text))


def run_scan(scan, target, rate, limit=120):
    status, out, err, wall = timed([scan, target, "--all", "--csv", "-q", "--rate", str(rate),
                                    "--max-addresses", "65536"], limit)
    replies, errors, units = set(), set(), {}
    # Unit texts may hold commas and quotes: read it as the CSV it is.
    for fields in list(csv.reader(io.StringIO(out)))[1:]:
        a = ip(fields[0])
        if fields[1] == "error":
            errors.add(a)
        else:
            replies.add(a)
            if fields[1] == "unit":
                units[a] = fields[2]
    return wall, replies, errors, units, status


def run_fping(target, limit=300):
    net = ipaddress.IPv4Network(target)
    status, out, err, wall = timed(["fping", "-c1", f"-t{TIMEOUT_MS}", "-r0", "-i0", f"-b{PAYLOAD}", "-g",
                                    str(net.network_address), str(net.broadcast_address)], limit)
    replies, errors = set(), set()
    # Replies as they come (stdout), and the summary (stderr), which fping
    # leaves out when it gives up half-way.
    for line in out.splitlines():
        m = re.match(r"^(\S+)\s+: \[\d+\], \d+ bytes", line)
        if m:
            replies.add(ip(m.group(1)))
    for line in err.splitlines():
        m = re.match(r"^(\S+)\s+: xmt/rcv/%loss = (\d+)/(\d+)/", line)
        if m and int(m.group(3)) > 0:
            replies.add(ip(m.group(1)))
        m = re.search(r"for ICMP Echo sent to (\S+)", line)
        if m:
            errors.add(ip(m.group(1)))
    return wall, replies, errors, {}, status


def run_nmap(target, limit=600, arp=True):
    extra = [] if arp else ["--disable-arp-ping"]
    status, out, err, wall = timed(["nmap", "-sn", "-PE", "-n", "--max-retries", "0"] + extra + ["-oG", "-", target],
                                   limit)
    replies = {ip(m.group(1)) for m in re.finditer(r"^Host: (\S+) .*Status: Up", out, re.M)}
    return wall, replies, set(), {}, status


def judge(name, target, found, known):
    wall, replies, errors, units, status = found[:5]
    net = ipaddress.IPv4Network(target)
    inside = lambda a: int(net.network_address) <= a <= int(net.broadcast_address)
    broadcast = int(net.broadcast_address)
    want_reply = {a for a, (c, _) in known.items() if c == "reply" and inside(a)}
    want_error = {a for a, (c, _) in known.items() if c == "error" and inside(a)}
    missed = want_reply - replies
    false_reply = {}
    for a in replies - want_reply:
        category = known.get(a, ("silent", None))[0]
        false_reply.setdefault(category, []).append(a)
    false_error = sorted(a for a in errors - want_error if a != broadcast)
    missed_error = want_error - errors
    wrong_text = []
    if name == "zn7qx-scan":
        want_units = {a: t for a, (c, t) in known.items() if c == "reply" and t is not None and inside(a)}
        wrong_text = sorted(a for a in set(want_units) | set(units)
                            if units.get(a) != (want_units.get(a) and escape(want_units[a])))
    return {
        "wall": wall, "status": status, "replies": len(replies), "missed": sorted(missed),
        "false_reply": {k: sorted(v) for k, v in false_reply.items()}, "false_error": false_error,
        "missed_error": sorted(missed_error), "wrong_unit_text": wrong_text,
    }


def escape(text):
    return "".join(c if 0x20 <= ord(c) < 0x7f and c != "\\" else ("\\\\" if c == "\\" else f"\\x{ord(c):02x}")
                   for c in text)


def dotted(addresses, limit=6):
    shown = ", ".join(str(ipaddress.IPv4Address(a)) for a in addresses[:limit])
    return shown + (f", ... ({len(addresses)} in all)" if len(addresses) > limit else "")


def report(title, rows, ideal=None):
    print(f"\n== {title}")
    for name, j in rows:
        line = f"  {name:<28} {j['wall'] * 1000:9.1f} ms"
        if ideal:
            line += f"   {j['wall'] / ideal:5.3f} x ideal"
        line += f"   answering found {j['replies']}"
        print(line)
        print(f"      found every answering address: {'yes' if not j['missed'] else 'NO, missed ' + dotted(j['missed'])}")
        if j["missed_error"]:
            print(f"      errors not reported: {len(j['missed_error'])}")
        falses = [(k, v) for k, v in j["false_reply"].items()]
        if not falses and not j["false_error"] and not j["wrong_unit_text"]:
            print("      false results: none")
        for k, v in falses:
            print(f"      FALSE: reported answering but {k}: {dotted(v)}")
        if j["false_error"]:
            print(f"      FALSE: error filed under an address that drew none: {dotted(j['false_error'])}")
        if j["wrong_unit_text"]:
            print(f"      FALSE: unit text wrong or unit missing: {dotted(j['wrong_unit_text'])}")


def median_run(runner, repeat):
    runs = [runner() for _ in range(repeat)]
    runs.sort(key=lambda r: r[0])
    return runs[len(runs) // 2], [r[0] for r in runs]


def main():
    scan, config, repeat = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with_nmap_wide = sys.argv[4] == "1"
    assert_isolated()
    known = truth(config, os.environ["ZN7QX_PROBE_ADDRESS"])
    goals = []

    # ---- the /23, on-link: units, hosts, errors, tricks, silent ----
    n23 = 512
    s, s_all = median_run(lambda: run_scan(scan, LAN, DEFAULT_RATE), repeat)
    f, f_all = median_run(lambda: run_fping(LAN), repeat)
    m, m_all = median_run(lambda: run_nmap(LAN), repeat)
    mi, mi_all = median_run(lambda: run_nmap(LAN, arp=False), repeat)
    ideal23 = n23 / DEFAULT_RATE + TIMEOUT_MS / 1000
    rows = [("zn7qx-scan (default rate)", judge("zn7qx-scan", LAN, s, known)),
            ("fping -i0 -r0 -t300 -c1", judge("fping", LAN, f, known)),
            ("nmap -sn -PE --max-retries 0", judge("nmap", LAN, m, known)),
            ("  same, --disable-arp-ping", judge("nmap", LAN, mi, known))]
    report(f"{LAN}: {n23} addresses, median of {repeat} (ideal N/rate + time-out = {ideal23 * 1000:.1f} ms)",
           rows, ideal23)
    print(f"  runs (s): zn7qx-scan {fmt(s_all)}  fping {fmt(f_all)}  nmap {fmt(m_all)}  nmap ICMP {fmt(mi_all)}")
    print("  (on-link, nmap -sn asks by ARP, not by ICMP echo, and every simulated address answers ARP)")
    faster = min(f[0], mi[0])
    print(f"  ratio zn7qx-scan / fping {s[0] / f[0]:.3f}   / nmap {s[0] / m[0]:.3f}   / nmap ICMP {s[0] / mi[0]:.3f}")
    goals.append((f"/23 within time-out + 100 ms ({s[0] * 1000:.1f} ms <= 400 ms)", s[0] <= 0.400))
    goals.append((f"/23 no slower than the faster of fping and nmap's ICMP sweep ({s[0] * 1000:.1f} <= {faster * 1000:.1f} ms)",
                   s[0] <= faster))

    # ---- the /16, routed ----
    n16 = 65536
    s16, s16_all = median_run(lambda: run_scan(scan, WIDE, DEFAULT_RATE), repeat)
    f16 = run_fping(WIDE)
    # fping cannot keep 65536 requests apart (it runs out of sequence
    # numbers), so its pace is measured on the half it can do.
    half = "198.19.0.0/17"
    f17, f17_all = median_run(lambda: run_fping(half), repeat)
    n17 = 32768
    ideal16 = n16 / DEFAULT_RATE + TIMEOUT_MS / 1000
    # fping's pace: its wall time less the time-out and less what it takes
    # to start and probe one address that answers at once.
    me = os.environ["ZN7QX_PROBE_ADDRESS"]
    startup = statistics.median(timed(["fping", "-c1", f"-t{TIMEOUT_MS}", "-r0", me], 30)[3] for _ in range(5))
    fping_rate = n17 / max(f17[0] - TIMEOUT_MS / 1000 - startup, 1e-3)
    matched = min(int(fping_rate), RATE_CEILING)
    s17, s17_all = median_run(lambda: run_scan(scan, half, matched), repeat)
    sm, sm_all = median_run(lambda: run_scan(scan, WIDE, matched), repeat)
    rows = [("zn7qx-scan (default rate)", judge("zn7qx-scan", WIDE, s16, known)),
            (f"zn7qx-scan --rate {matched}", judge("zn7qx-scan", WIDE, sm, known)),
            (f"fping -i0 -r0 -t300 -c1 (exit {f16[4]})", judge("fping", WIDE, f16, known))]
    if with_nmap_wide:
        nm16 = run_nmap(WIDE)
        rows.append(("nmap -sn -PE --max-retries 0", judge("nmap", WIDE, nm16, known)))
    report(f"{WIDE}: {n16} addresses, median of {repeat} (ideal at {DEFAULT_RATE}/s = {ideal16 * 1000:.1f} ms)",
           rows, ideal16)
    print(f"  runs (s): zn7qx-scan {fmt(s16_all)}  at fping's rate {fmt(sm_all)}")
    if f16[4] != 0 and f16[4] != 1:
        print(f"  fping on the /16 gave up (exit {f16[4]}): see its error output")
    rows = [(f"zn7qx-scan --rate {matched}", judge("zn7qx-scan", half, s17, known)),
            ("fping -i0 -r0 -t300 -c1", judge("fping", half, f17, known))]
    report(f"{half}: {n17} addresses, median of {repeat}", rows, n17 / matched + TIMEOUT_MS / 1000)
    print(f"  runs (s): zn7qx-scan {fmt(s17_all)}  fping {fmt(f17_all)}")
    print(f"  fping start-up (one answering address): {startup * 1000:.1f} ms")
    print(f"  fping reached {fping_rate:.0f} requests/s; zn7qx-scan at --rate {matched}: "
          f"{s17[0] / f17[0]:.3f} x fping's time on the /17; the /16 in {sm[0]:.3f} s "
          f"({sm[0] / (n16 / matched + TIMEOUT_MS / 1000):.3f} x ideal at that rate)")
    goals.append((f"/16 at the default rate within 5 % of N/rate + time-out ({s16[0] / ideal16:.3f} x ideal)",
                  s16[0] <= ideal16 * 1.05))
    goals.append((f"at fping's rate no slower than fping ({s17[0]:.3f} s vs {f17[0]:.3f} s on the /17)",
                  s17[0] <= f17[0]))
    clean = all(not j["missed"] and not j["false_reply"] and not j["false_error"] and not j["wrong_unit_text"]
                for name, j in [("a", judge("zn7qx-scan", LAN, s, known)), ("b", judge("zn7qx-scan", WIDE, s16, known)),
                                ("c", judge("zn7qx-scan", WIDE, sm, known)),
                                ("d", judge("zn7qx-scan", half, s17, known))])
    goals.append(("zn7qx-scan: nothing missed, nothing false, in every judged run", clean))

    print("\n== goals")
    for text, ok in goals:
        print(f"  [{'met' if ok else 'NOT met'}] {text}")


def fmt(values):
    return "/".join(f"{v:.3f}" for v in values)


if __name__ == "__main__":
    main()
