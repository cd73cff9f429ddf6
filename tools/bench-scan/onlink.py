#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The on-link benchmark's runs, on the probe side of the simulated network
(see onlink.sh): each tool sweeps while a sniffer counts the ARP requests
that leave, a sampler watches this namespace's neighbour table, and the
window scans in a namespace of its own; the machine's table comes from the
sampler onlink.sh runs outside."""

import ctypes
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402  (assert_isolated, truth, the tools' runs)

SLASH16 = "198.18.0.0/16"
SOL_PACKET, PACKET_STATISTICS = 263, 6


class Watch:
    """Outgoing ARP requests on the link, and the namespace's table, while it runs."""

    def __init__(self, link):
        # Every protocol: only such a socket sees the frames that leave.
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.sock.bind((link, 3))
        self.sock.settimeout(0.05)
        self.arp = 0
        self.table = 0
        self.stop = False
        self.threads = [threading.Thread(target=self.sniff), threading.Thread(target=self.sample)]
        for t in self.threads:
            t.start()

    def sniff(self):
        while not self.stop:
            try:
                frame, address = self.sock.recvfrom(64)
            except socket.timeout:
                continue
            # Outgoing ARP requests (operation 1).
            if address[2] == socket.PACKET_OUTGOING and frame[12:14] == b"\x08\x06" and frame[20:22] == b"\x00\x01":
                self.arp += 1

    def sample(self):
        while not self.stop:
            with open("/proc/net/arp") as f:
                self.table = max(self.table, sum(1 for _ in f) - 1)
            time.sleep(0.1)

    def end(self):
        time.sleep(0.3)  # the last requests' frames
        self.stop = True
        for t in self.threads:
            t.join()
        dropped = struct.unpack("II", self.sock.getsockopt(SOL_PACKET, PACKET_STATISTICS, 8))[1]
        self.sock.close()
        return self.arp, self.table, dropped


def machine_table(start, end):
    """The largest count of the machine's table between two wall-clock times."""
    best = 0
    with open(os.environ["ZN7QX_MACHINE_NEIGH"]) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2 and start <= float(parts[0]) <= end:
                best = max(best, int(parts[1]))
    return best


def window_beside(build, repo):
    """The window scanning 100 answering addresses of a network of its own."""
    return subprocess.Popen(
        [f"{repo}/tools/zn7qx-sim/with-sim-network.sh", "--sim", f"{build}/tools/zn7qx-sim/zn7qx-sim",
         "--config", f"{repo}/tools/bench-window/bench-network.json", "--sim-log", "/dev/null", "--max-seconds", "600",
         "--sim-nice", "-10",
         "--", "env", "QT_QPA_PLATFORM=offscreen", f"{build}/tools/bench-window/bench-window",
         "--answering", "100", "--silent", "1"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def window_verdict(window):
    out = window.communicate()[0]
    m = re.search(r"answering\s+(\d+) addresses.*measured\s+([\d.]+) s", out)
    took = f"{float(m.group(2)):.1f} s" if m else "?"
    if window.returncode == 0:
        return f"all 100 answers in {took}"
    lost = re.search(r"found (\d+) units .*?(\d+) others", out)
    return f"answers lost ({lost.group(1)}+{lost.group(2)} of 100)" if lost else "failed: " + out.strip()[-120:]


def run(label, command_of, target, known, build, repo, runner):
    watch = Watch(os.environ["ZN7QX_PROBE_IF"])
    window = window_beside(build, repo)
    time.sleep(1.5)  # the window's namespace up and scanning
    start = time.time()
    found = runner(command_of, target)
    end = time.time()
    arp, table, dropped = watch.end()
    verdict = window_verdict(window)
    wall, replies, errors, units = found[:4]
    net = bench.ipaddress.IPv4Network(target)
    inside = lambda a: int(net.network_address) <= a <= int(net.broadcast_address)
    want_units = {a for a, (c, t) in known.items() if c == "reply" and t and inside(a)}
    want_hosts = {a for a, (c, t) in known.items() if c == "reply" and not t and inside(a)}
    broadcast = int(net.broadcast_address)
    found_units = len(want_units & replies)
    found_hosts = len(want_hosts & replies)
    false_errors = len({a for a in errors if a != broadcast})
    if found[4] is None:
        label += ", unfinished"
    print(f"{label:44} {target:16} {wall:8.2f} {found_units:3}/{len(want_units):<3} {found_hosts:3}/{len(want_hosts):<3} "
          f"{false_errors:6} {arp:8}{'*' if dropped else ' '} {table:6} {machine_table(start, end):7}   {verdict}",
          flush=True)


def main():
    build, repo, config, prefix, nmap_seconds = sys.argv[1:6]
    bench.assert_isolated()
    known = bench.truth(config, os.environ["ZN7QX_PROBE_ADDRESS"])
    scan = f"{build}/app/zn7qx-scan/zn7qx-scan"
    polite = f"198.18.0.0/{prefix}"
    unprivileged = ["setpriv", "--inh-caps=-all", "--bounding-set=-net_raw", "--"]

    def zn7qx(prefix_command, rate):
        def runner(_, target):
            status, out, err, wall = bench.timed(prefix_command + [scan, target, "--all", "--csv", "--rate", str(rate),
                                                                   "--max-addresses", "65536"], 7200)
            said = [line for line in err.splitlines() if "on-link addresses" in line]
            if said:
                print("  it says: " + said[0][len("zn7qx-scan: "):], flush=True)
            replies, errors, units = set(), set(), {}
            for fields in list(bench.csv.reader(bench.io.StringIO(out)))[1:]:
                (errors if fields[1] == "error" else replies).add(bench.ip(fields[0]))
            return wall, replies, errors, units, status
        return runner

    print(f"{'tool':44} {'range':16} {'wall s':>8} {'units':>7} {'hosts':>7} {'false':>6} {'ARP sent':>9} "
          f"{'table':>6} {'machine':>7}   window beside it")
    print(f"{'':44} {'':16} {'':8} {'':7} {'':7} {'errors':>6} {'on wire':>9} {'(ns)':>6} {'max':>7}")
    run("zn7qx-scan --rate 20000, CAP_NET_RAW", None, SLASH16, known, build, repo, zn7qx([], 20000))
    run("zn7qx-scan (default rate), CAP_NET_RAW", None, SLASH16, known, build, repo, zn7qx([], 2000))
    run("zn7qx-scan --rate 20000, no capability", None, polite, known, build, repo, zn7qx(unprivileged, 20000))
    run("fping -c1 -t300 -r0 -i0", None, SLASH16, known, build, repo,
        lambda _, target: bench.run_fping(target, 600))
    for target in (polite, SLASH16):
        run(f"nmap -sn -PE -n --max-retries 0 (<= {nmap_seconds} s)", None, target, known, build, repo,
            lambda _, t: bench.run_nmap(t, int(nmap_seconds)))
    print("ARP sent: requests counted leaving the probe's link (* the counter missed some); table (ns): the most\n"
          "entries of the probe namespace's neighbour table; machine max: the whole machine's table (gc_thresh3\n"
          "entries at most), other namespaces' entries included. Ideal with the capability at 20000/s: 65536/20000\n"
          "+ 0.3 s = 3.6 s; goal at most 1.25 x that, 4.5 s.")


if __name__ == "__main__":
    main()
