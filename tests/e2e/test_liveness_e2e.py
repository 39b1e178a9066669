#!/usr/bin/env python3
"""The folder keeps changing, end to end: the real module in the stand-in host,
against the stand-in service, in one host run of about ten minutes.

Phase 1: a large search next to a collection of two images, MaxLocal 5, the
host showing an image every second. Phase 2: the service answers 503 to every
request for five minutes while the host keeps showing, then recovers.

Run by CTest with the stand-in service fixture:
  test_liveness_e2e.py --host VDTHOST --module MODULE [--wine]
                       [--show-seconds 150] [--outage-seconds 300] [--recovery-seconds 130]
The service URL is read from $LUMORA_TEST_SERVICE_DIR/url.
"""
import argparse
import configparser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from hostkit import Host, call, image_files, read_list, service_url, write_settings  # noqa: E402


ARGS = None
MAX_LOCAL = 5
FEEDS = [{"Type": 0, "Purity": "100", "Sorting": 1, "Flg": 1},                      # about 200 images
         {"Type": 1, "Username": "marta", "CollId": 91, "Purity": "100", "Flg": 1}]  # exactly two
LIMIT = MAX_LOCAL * len(FEEDS)
# After the first eviction (some feed is at its limit and has to make room),
# a new image must land in every window of this length while the service is
# up. A download pass comes every 2 s; a feed whose pool runs dry asks for a
# page (1.5 s between feeds), at most 45 API requests a minute. 30 s leaves
# room for a slow machine and wine, and is still far below the ten minutes a
# stalled feed would show.
NEW_IMAGE_WINDOW_S = 30
# After the service comes back: a page pause is at most 60 s and the download
# interval at most 60 s, so one of each fits in two minutes.
RECOVERY_BOUND_S = 120

ADD = re.compile(r"m_lclfiles Add: (.*) (\S+) \(feed (\d+)\)$")
REMOVED = "CleanDispFiles: Removed "
BACKOFF = re.compile(r"Refresh \d+: no answer from the service \((\d+)\), next request in (\d+) s$")
DISABLED = re.compile(r"too many errors, disabled|Refresh \d+: is disabled")
CACHE_FULL = re.compile(r"DownloadImages: cache full \((\d+)/(\d+)\)")
FAILED_503 = re.compile(r"(QueryServerApi:|DownloadImage\(\),) HTTP Error 503, url=")
# Backing off: the failed requests of the outage come further apart, until
# two of them lie at least this far apart. A client that kept its working
# pace (a download pass every 2 s) would never leave such a gap.
BACKED_OFF_GAP_S = 20


HOST = None  # hostkit.Host, made in main()


def host_path(path):
    """The path as the module sees it (wine maps / to drive Z:)."""
    return HOST.path(path)


def local(path):
    """A path from the module's files, as a path of this machine."""
    return HOST.local(path)


class HostRun:
    """vdthost `run` in the background; every line of its output with the
    moment it arrived (time.monotonic())."""

    def __init__(self, ini, seconds):
        cmd = HOST.command(ini, "run", "--seconds", seconds, "--show-every", 1)
        env = dict(os.environ, LUMORA_SERVICE_URL=service_url())
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=self.stderr)
        self.lines = []  # (t, text)
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            text = raw.decode("utf-8", "replace").rstrip("\r\n")
            with self.lock:
                self.lines.append((time.monotonic(), text))

    def first_time(self, predicate):
        with self.lock:
            return next((t for t, l in self.lines if predicate(l)), None)

    def finish(self, timeout):
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            rc = "killed after %d s" % timeout
        self.reader.join(10)
        self.proc.stdout.close()
        self.stderr.seek(0)
        err = self.stderr.read().decode("utf-8", "replace")
        self.stderr.close()
        return rc, err


class Events:
    """The log of one run as events on the run's time line."""

    def __init__(self, lines):
        prefix = "[Lumora Plugin] "
        self.log = [(t, l[len(prefix):]) for t, l in lines if l.startswith(prefix)]
        self.shows = [(t, l[5:]) for t, l in lines if l.startswith("show ")]
        self.adds, self.removes = [], []  # (t, path as seen here[, feed])
        for t, l in self.log:
            m = ADD.match(l)
            if m:
                self.adds.append((t, local(m.group(1)), int(m.group(3))))
            elif l.startswith(REMOVED):
                self.removes.append((t, local(l[len(REMOVED):])))

    def between(self, events, start, end):
        return [e for e in events if start <= e[0] < end]


class LivenessE2E(unittest.TestCase):
    def setUp(self):
        call("/_control/reset")
        # The real service's limit: an engine that keeps to it never meets a 429.
        call("/_control/config", {"rate_limit": 45})
        self.dir = tempfile.mkdtemp(prefix="lumora_live_")
        self.folder = os.path.join(self.dir, "images")
        os.mkdir(self.folder)
        self.ini = os.path.join(self.dir, "host.ini")
        write_settings(self.ini, host_path(self.folder), FEEDS, max_local=MAX_LOCAL)

    def tearDown(self):
        call("/_control/reset")
        if ARGS.keep:
            print("kept", self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def images(self):
        return image_files(self.folder)

    def test_folder_keeps_changing_and_an_outage_disables_nothing(self):
        show_s, outage_s, recovery_s = ARGS.show_seconds, ARGS.outage_seconds, ARGS.recovery_seconds
        host = HostRun(self.ini, show_s + outage_s + recovery_s)
        deadline = time.monotonic() + 120
        while host.first_time(lambda l: l.endswith("CLumoraThread::Start()")) is None:
            self.assertLess(time.monotonic(), deadline, "the worker did not start")
            self.assertIsNone(host.proc.poll(), "the host ended early")
            time.sleep(0.2)
        t_start = host.first_time(lambda l: l.endswith("CLumoraThread::Start()"))

        # The folder, looked at once a second: never more images than the limit.
        most_on_disk = 0

        def watch_until(t_end):
            nonlocal most_on_disk
            while time.monotonic() < t_end and host.proc.poll() is None:
                on_disk = len(self.images())
                most_on_disk = max(most_on_disk, on_disk)
                self.assertLessEqual(on_disk, LIMIT, self.images())
                time.sleep(1)

        watch_until(t_start + show_s)
        t_outage = time.monotonic()
        call("/_control/faults", [{"status": 503}])  # everything, API and images, until cleared
        watch_until(t_outage + outage_s)
        t_recovered = time.monotonic()
        call("/_control/faults", [])
        requests = call("/_control/log")
        watch_until(t_recovered + recovery_s + 60)
        rc, stderr = host.finish(timeout=180)
        every_request = call("/_control/log")
        ev = Events(host.lines)
        text = "\n".join(l for _, l in host.lines)
        with open(os.path.join(self.dir, "host.log"), "w") as f:
            f.write("".join("%8.1f %s\n" % (t - t_start, l) for t, l in host.lines))
            f.write("outage at %.1f, recovered at %.1f\n" % (t_outage - t_start, t_recovered - t_start))
        with open(os.path.join(self.dir, "requests.json"), "w") as f:
            json.dump(every_request, f, indent=0)
        self.assertEqual(rc, 0, text[-4000:] + stderr[-2000:])

        # --- phase 1: shown files leave, new ones arrive --------------------------------------
        adds1 = ev.between(ev.adds, 0, t_outage)
        removes1 = ev.between(ev.removes, 0, t_outage)
        self.assertGreaterEqual(len(removes1), 10, text[-4000:])
        self.assertEqual({f for _, _, f in adds1}, {0, 1}, "both feeds deliver")
        shown_before = {}
        for t, path in ev.shows:
            shown_before.setdefault(local(path) if ARGS.wine and path[1:2] == ":" else path, t)
        for t, path in ev.removes:
            # Only a file the host has shown may be evicted.
            self.assertIn(path, shown_before, "evicted unseen: " + path)
            self.assertLess(shown_before[path], t, path)
        t_filled = removes1[0][0]
        stamps = [t_filled] + [t for t, _, _ in adds1 if t > t_filled] + [t_outage]
        gaps = [b - a for a, b in zip(stamps, stamps[1:])]
        longest_gap = max(gaps)
        self.assertLessEqual(longest_gap, NEW_IMAGE_WINDOW_S,
                             "no new image for %.1f s after the cache filled" % longest_gap)

        # The cache list as the log tells it: never above the limit.
        held, most_held = set(), 0
        for t, l in ev.log:
            m = ADD.match(l)
            if m:
                held.add(local(m.group(1)))
            elif l.startswith(REMOVED):
                held.discard(local(l[len(REMOVED):]))
            most_held = max(most_held, len(held))
            full = CACHE_FULL.match(l)
            if full:
                self.assertEqual(int(full.group(2)), LIMIT, l)
                self.assertLessEqual(int(full.group(1)), LIMIT, l)
        self.assertLessEqual(most_held, LIMIT)

        # --- phase 2: the outage backs off and disables nothing -------------------------------
        during = [e for e in requests if e["status"] == 503]
        self.assertTrue(any(e["url"].startswith("/full/") for e in during), "no image asked during the outage")
        # At the working pace the outage would see one request every 2 s.
        self.assertLessEqual(len(during), outage_s // 5)
        failures = [t for t, l in ev.log if t_outage <= t < t_recovered and FAILED_503.match(l)]
        self.assertGreaterEqual(len(failures), 2, "no failed request in the log during the outage")
        spacing = max(b - a for a, b in zip(failures, failures[1:]))
        self.assertGreaterEqual(spacing, BACKED_OFF_GAP_S, "no back-off: failed requests kept coming")
        # Page requests that fail say so and name their pause.
        backoffs = [(t, l) for t, l in ev.log if t >= t_outage and BACKOFF.match(l)]
        self.assertTrue(all(BACKOFF.match(l).group(1) == "503" for _, l in backoffs))
        # While nothing can be downloaded the folder does not shrink: a shown
        # file leaves only for a replacement already on disk.
        t_resumed = next((t for t, _, _ in ev.adds if t >= t_recovered), None)
        self.assertIsNotNone(t_resumed, "no download after the service came back")
        adds2 = ev.between(ev.adds, t_outage, t_recovered)
        removes2 = ev.between(ev.removes, t_outage, t_recovered)
        self.assertLessEqual(len(removes2), len(adds2))
        shows2 = ev.between(ev.shows, t_outage, t_recovered)
        self.assertGreaterEqual(len(shows2), outage_s // 2, "the host kept showing")
        resume_s = t_resumed - t_recovered
        self.assertLessEqual(resume_s, RECOVERY_BOUND_S)
        self.assertEqual([l for _, l in ev.log if DISABLED.search(l)], [])
        self.assertNotIn(429, [e["status"] for e in every_request])

        # --- at the end: list and folder agree, nothing disabled in the stored settings -------
        self.assertIn("CLumoraThread::Stop(), result: 0", [l for _, l in ev.log])
        recs = read_list(self.folder)
        self.assertLessEqual(len(recs), LIMIT)
        self.assertEqual(sorted(local(r[1]) for r in recs), self.images())
        # An evicted file is gone from the folder and the list, unless the same
        # wallpaper came back later (a collection of two comes round again).
        last_add = {p: t for t, p, _ in ev.adds}
        for t, path in ev.removes:
            if last_add.get(path, 0) < t:
                self.assertFalse(os.path.exists(path), path)
                self.assertNotIn(path, [local(r[1]) for r in recs])
        stored = configparser.ConfigParser(interpolation=None)
        stored.optionxform = str
        stored.read(self.ini)
        for i in range(len(FEEDS)):
            self.assertEqual(int(stored["LumoraPlugIn"].get("Feed%d_Flg" % i, "1")) & 1, 1, "feed %d" % i)

        removes_total = len(ev.removes)
        print("\nfigures (%s): downloads %d (before the outage %d), evictions %d (before the outage %d), "
              "longest gap between new images after the cache filled %.1f s (bound %d s), images on disk at "
              "most %d (limit %d), requests in the outage %d (failed lines %d, longest gap %.0f s, page "
              "back-off lines %d, longest pause %d s), first download %.1f s after the "
              "service came back (bound %d s), shows %d, API requests %d" %
              ("wine" if ARGS.wine else "native", len(ev.adds), len(adds1), removes_total, len(removes1),
               longest_gap, NEW_IMAGE_WINDOW_S, most_on_disk, LIMIT, len(during), len(failures), spacing,
               len(backoffs), max((int(BACKOFF.match(l).group(2)) for _, l in backoffs), default=0), resume_s,
               RECOVERY_BOUND_S,
               len(ev.shows), len([e for e in every_request if e["url"].startswith("/api/")])))


def main():
    global ARGS, HOST
    p = argparse.ArgumentParser()
    p.add_argument("--host", required=True)
    p.add_argument("--module", required=True)
    p.add_argument("--wine", action="store_true")
    p.add_argument("--keep", action="store_true", help="keep the test folder")
    p.add_argument("--show-seconds", type=int, default=150)
    p.add_argument("--outage-seconds", type=int, default=300)
    p.add_argument("--recovery-seconds", type=int, default=130)
    ARGS, rest = p.parse_known_args()
    HOST = Host(ARGS.host, ARGS.module, wine=ARGS.wine)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
