#!/usr/bin/env python3
"""The folder keeps changing, end to end: the real module in the stand-in host,
against the stand-in service, in one host run of about ten minutes.

Phase 1: a large search next to a collection of two images, MaxLocal 5, the
host showing an image every second. Phase 2: the service answers 503 to every
request for five minutes while the host keeps showing, then recovers. The
outage begins with the API once the search's pool is nearly used up, and
takes the images too once the pool is empty (or 20 s later), so that the
engine has to ask for a page while the service is down.

Every check of a phase is a sub-test: one run reports every check that fails.
The host is ended whenever the test ends early.

Run by CTest with the stand-in service fixture:
  test_liveness_e2e.py --host VDTHOST --module MODULE [--wine]
                       [--show-seconds 150] [--outage-seconds 300] [--recovery-seconds 130]
The service URL is read from $LUMORA_TEST_SERVICE_DIR/url.
"""
import configparser
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments, call, image_files, read_list, service_url, write_settings  # noqa: E402


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
# The outage begins (API first) when the search feed holds at most this many
# pooled wallpapers, but no later than this many seconds after the showing
# time; the images follow when the pool is empty or after API_FIRST_S.
OUTAGE_POOL = 2
OUTAGE_WAIT_S = 60
API_FIRST_S = 20

ADD = re.compile(r"m_lclfiles Add: (.*) (\S+) \(feed (\d+)\)$")
REMOVED = "CleanDispFiles: Removed "
# A failed page request says what the service did and names its pause (the
# older wording "no answer from the service" is accepted too).
BACKOFF = re.compile(r"Refresh \d+: (?:the service is not available|no answer from the service) \((\d+)\), "
                     r"next request in (\d+) s$")
FOUND = re.compile(r"Refresh 0: (\d+) items found, page ")
POOL_LEFT = re.compile(r"feed 0 items removed, size=(\d+)$")
PAGE_ASKED = re.compile(r"Refresh \d+: page=")
DISABLED = re.compile(r"too many errors, disabled|Refresh \d+: is disabled")
CACHE_FULL = re.compile(r"DownloadImages: cache full \((\d+)/(\d+)\)")
FAILED_503 = re.compile(r"(QueryServerApi:|DownloadImage\(\),) HTTP Error 503, url=")
# Backing off: the failed requests of the outage come further apart, until
# two of them lie at least this far apart. A client that kept its working
# pace (a download pass every 2 s) would never leave such a gap.
BACKED_OFF_GAP_S = 20


HOST = None  # hostkit.Host, made in main()
PREFIX = "[Lumora Plugin] "


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
        # --save: the host stores what the module holds at the end, whether
        # or not the module says its settings changed.
        cmd = HOST.command(ini, "run", "--seconds", seconds, "--show-every", 1, "--save")
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

    def lines_copy(self):
        with self.lock:
            return list(self.lines)

    def first_time(self, predicate):
        with self.lock:
            return next((t for t, l in self.lines if predicate(l)), None)

    def text(self):
        with self.lock:
            return [l for _, l in self.lines]

    def end(self):
        """Ends a host that is still running (a test that stopped early)."""
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

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

    @staticmethod
    def search_pool(host):
        """The search feed's pooled wallpapers as the log last told them (a
        download logs what is left; a page found makes it unknown: None)."""
        left = None
        for _, l in host.lines_copy():
            if not l.startswith(PREFIX):
                continue
            l = l[len(PREFIX):]
            m = POOL_LEFT.match(l)
            if m:
                left = int(m.group(1))
            elif FOUND.match(l):
                left = None
        return left

    def test_folder_keeps_changing_and_an_outage_disables_nothing(self):
        show_s, outage_s, recovery_s = ARGS.show_seconds, ARGS.outage_seconds, ARGS.recovery_seconds
        host = HostRun(self.ini, show_s + OUTAGE_WAIT_S + outage_s + recovery_s)
        # Whatever ends the test, the host does not outlive it.
        self.addCleanup(host.end)
        deadline = time.monotonic() + 120
        while host.first_time(lambda l: l.endswith("CLumoraThread::Start()")) is None:
            self.assertLess(time.monotonic(), deadline, "the worker did not start")
            self.assertIsNone(host.proc.poll(), "the host ended early")
            time.sleep(0.2)
        t_start = host.first_time(lambda l: l.endswith("CLumoraThread::Start()"))

        # The folder, looked at once a second: never more images than the limit.
        most_on_disk = 0
        too_many = []

        def watch_until(t_end, until=None):
            nonlocal most_on_disk
            while time.monotonic() < t_end and host.proc.poll() is None:
                on_disk = self.images()
                most_on_disk = max(most_on_disk, len(on_disk))
                if len(on_disk) > LIMIT:
                    too_many.append(on_disk)
                if until is not None and until():
                    return
                time.sleep(0.5)

        def pool_at_most(n):
            left = self.search_pool(host)
            return left is not None and left <= n

        watch_until(t_start + show_s)
        watch_until(t_start + show_s + OUTAGE_WAIT_S, until=lambda: pool_at_most(OUTAGE_POOL))
        pool_at_outage = self.search_pool(host)
        t_outage = time.monotonic()
        # The API first: the search's next page request fails whatever the
        # images do; then everything, API and images, until cleared.
        call("/_control/faults", [{"match": "/api/", "status": 503}])
        watch_until(t_outage + API_FIRST_S, until=lambda: pool_at_most(0))
        pool_at_images = self.search_pool(host)
        call("/_control/faults", [{"status": 503}])
        watch_until(t_outage + outage_s)
        t_recovered = time.monotonic()
        call("/_control/faults", [])
        requests = call("/_control/log")
        watch_until(t_recovered + recovery_s + OUTAGE_WAIT_S + 60)
        rc, stderr = host.finish(timeout=180)
        every_request = call("/_control/log")
        ev = Events(host.lines)
        text = "\n".join(l for _, l in host.lines)
        with open(os.path.join(self.dir, "host.log"), "w") as f:
            f.write("".join("%8.1f %s\n" % (t - t_start, l) for t, l in host.lines))
            f.write("outage at %.1f (search pool %s), recovered at %.1f\n" %
                    (t_outage - t_start, pool_at_outage, t_recovered - t_start))
        with open(os.path.join(self.dir, "requests.json"), "w") as f:
            json.dump(every_request, f, indent=0)
        self.assertEqual(rc, 0, text[-4000:] + stderr[-2000:])
        t_stopped = host.first_time(lambda l: l.endswith("CLumoraThread::Stop(), result: 0"))
        self.assertIsNotNone(t_stopped, "the worker did not stop")

        with self.subTest("never more images on disk than the limit"):
            self.assertEqual(too_many[:1], [])

        # --- phase 1: shown files leave, new ones arrive --------------------------------------
        adds1 = ev.between(ev.adds, 0, t_outage)
        removes1 = ev.between(ev.removes, 0, t_outage)
        with self.subTest("phase 1: evictions, both feeds deliver, only shown files leave"):
            self.assertGreaterEqual(len(removes1), 10, text[-4000:])
            self.assertEqual({f for _, _, f in adds1}, {0, 1}, "both feeds deliver")
            shown_before = {}
            for t, path in ev.shows:
                shown_before.setdefault(local(path) if ARGS.wine and path[1:2] == ":" else path, t)
            for t, path in ev.removes:
                # Only a file the host has shown may be evicted.
                self.assertIn(path, shown_before, "evicted unseen: " + path)
                self.assertLess(shown_before[path], t, path)
        longest_gap = None
        with self.subTest("phase 1: a new image in every %d s once the cache is full" % NEW_IMAGE_WINDOW_S):
            self.assertTrue(removes1, "no eviction before the outage")
            longest_gap = self.longest_gap(ev, removes1[0][0], t_outage)
            self.assertLessEqual(longest_gap, NEW_IMAGE_WINDOW_S,
                                 "no new image for %.1f s after the cache filled" % longest_gap)

        with self.subTest("the cache list as the log tells it: never above the limit"):
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
        failures = [t for t, l in ev.log if t_outage <= t < t_recovered and FAILED_503.match(l)]
        spacing = max((b - a for a, b in zip(failures, failures[1:])), default=0)
        with self.subTest("outage: requests back off"):
            if pool_at_images:
                # Wallpapers were left to fetch when the images failed too.
                self.assertTrue(any(e["url"].startswith("/full/") for e in during), "no image asked during the outage")
            self.assertTrue(any(e["url"].startswith("/api/") for e in during), "no page asked during the outage")
            # At the working pace the outage would see one request every 2 s.
            self.assertLessEqual(len(during), outage_s // 5)
            self.assertGreaterEqual(len(failures), 2, "no failed request in the log during the outage")
            self.assertGreaterEqual(spacing, BACKED_OFF_GAP_S, "no back-off: failed requests kept coming")
        # Page requests that fail say so and name their pause; the next page
        # request waits at least that long, and the pauses grow.
        backoffs = [(t, l) for t, l in ev.log if t_outage <= t < t_recovered and BACKOFF.match(l)]
        with self.subTest("outage: a failed page request names its pause and keeps it"):
            self.assertTrue(backoffs, "no page request failed during the outage (search pool %s at its start)" %
                            pool_at_outage)
            self.assertEqual({BACKOFF.match(l).group(1) for _, l in backoffs}, {"503"})
            pauses = [int(BACKOFF.match(l).group(2)) for _, l in backoffs]
            self.assertEqual(pauses, sorted(pauses), "the pause shrank during the outage")
            if len(pauses) > 1:
                self.assertGreater(pauses[-1], pauses[0], "the pause did not grow")
            asked = [t for t, l in ev.log if PAGE_ASKED.match(l)]
            for t, l in backoffs:
                pause = int(BACKOFF.match(l).group(2))
                following = [a for a in asked if a > t]
                if following:
                    # One second of slack for the log's and the loop's timing.
                    self.assertGreaterEqual(following[0] - t, pause - 1, "a page asked before its pause: " + l)
        adds2 = ev.between(ev.adds, t_outage, t_recovered)
        removes2 = ev.between(ev.removes, t_outage, t_recovered)
        shows2 = ev.between(ev.shows, t_outage, t_recovered)
        with self.subTest("outage: the folder does not shrink, the host kept showing"):
            # While nothing can be downloaded the folder does not shrink: a
            # shown file leaves only for a replacement already on disk.
            self.assertLessEqual(len(removes2), len(adds2))
            self.assertGreaterEqual(len(shows2), outage_s // 2, "the host kept showing")

        # --- after the recovery: downloads resume and keep their pace --------------------------
        t_resumed = next((t for t, _, _ in ev.adds if t >= t_recovered), None)
        resume_s = t_resumed - t_recovered if t_resumed is not None else None
        gap_after = None
        with self.subTest("recovery: the first download within %d s" % RECOVERY_BOUND_S):
            self.assertIsNotNone(t_resumed, "no download after the service came back")
            self.assertLessEqual(resume_s, RECOVERY_BOUND_S)
        with self.subTest("recovery: then a new image in every %d s until the host stops" % NEW_IMAGE_WINDOW_S):
            self.assertIsNotNone(t_resumed, "no download after the service came back")
            self.assertGreaterEqual(t_stopped - t_resumed, recovery_s - RECOVERY_BOUND_S,
                                    "too little time after the first new download to judge the pace")
            gap_after = self.longest_gap(ev, t_resumed, t_stopped)
            self.assertLessEqual(gap_after, NEW_IMAGE_WINDOW_S,
                                 "no new image for %.1f s after the recovery" % gap_after)
        with self.subTest("nothing disabled, no 429"):
            self.assertEqual([l for _, l in ev.log if DISABLED.search(l)], [])
            self.assertNotIn(429, [e["status"] for e in every_request])

        # --- at the end: list and folder agree -------------------------------------------------
        with self.subTest("at the end: the list and the folder agree"):
            recs = read_list(self.folder)
            self.assertLessEqual(len(recs), LIMIT)
            self.assertEqual(sorted(local(r[1]) for r in recs), self.images())
            # An evicted file is gone from the folder and the list, unless the
            # same wallpaper came back later (a collection of two comes round again).
            last_add = {p: t for t, p, _ in ev.adds}
            for t, path in ev.removes:
                if last_add.get(path, 0) < t:
                    self.assertFalse(os.path.exists(path), path)
                    self.assertNotIn(path, [local(r[1]) for r in recs])
        # The host saved what the module held at the end (--save): each feed
        # is still enabled (bit 0) and was queried (bit 16, set only by the
        # engine, so a file the module did not write cannot pass).
        with self.subTest("at the end: the module's own feeds are stored enabled"):
            self.assertIn("save: 1", [l.rstrip("\r") for l in host.text()])
            stored = configparser.ConfigParser(interpolation=None)
            stored.optionxform = str
            stored.read(self.ini)
            for i in range(len(FEEDS)):
                flg = int(stored["LumoraPlugIn"]["Feed%d_Flg" % i])
                self.assertEqual(flg & 0x10000, 0x10000, "feed %d: Flg %#x not written by the module" % (i, flg))
                self.assertEqual(flg & 1, 1, "feed %d disabled: Flg %#x" % (i, flg))

        def fmt(v, f="%.1f"):
            return "-" if v is None else f % v

        print("\nfigures (%s): downloads %d (before the outage %d), evictions %d (before the outage %d), "
              "longest gap between new images after the cache filled %s s (bound %d s), images on disk at "
              "most %d (limit %d), search pool at the outage %s, requests in the outage %d (failed lines %d, "
              "longest gap %.0f s, page back-off lines %d, pauses %s s), first download %s s after the service "
              "came back (bound %d s), longest gap after it %s s, shows %d, API requests %d" %
              ("wine" if ARGS.wine else "native", len(ev.adds), len(adds1), len(ev.removes), len(removes1),
               fmt(longest_gap), NEW_IMAGE_WINDOW_S, most_on_disk, LIMIT, pool_at_outage, len(during),
               len(failures), spacing, len(backoffs),
               ",".join(BACKOFF.match(l).group(2) for _, l in backoffs) or "-", fmt(resume_s),
               RECOVERY_BOUND_S, fmt(gap_after), len(ev.shows),
               len([e for e in every_request if e["url"].startswith("/api/")])))

    @staticmethod
    def longest_gap(ev, t_from, t_to):
        """The longest time without a new image between two moments."""
        stamps = [t_from] + [t for t, _, _ in ev.adds if t_from < t < t_to] + [t_to]
        return max(b - a for a, b in zip(stamps, stamps[1:]))


class Ended(Exception):
    """The test was told to end (CTest's time-out sends SIGTERM)."""


def end_on_sigterm(signum, frame):
    # An exception, not an exit: the test records it and its clean-ups end the host.
    raise Ended("ended by signal %d" % signum)


def main():
    global ARGS, HOST
    signal.signal(signal.SIGTERM, end_on_sigterm)
    def options(p):
        p.add_argument("--show-seconds", type=int, default=150)
        p.add_argument("--outage-seconds", type=int, default=300)
        p.add_argument("--recovery-seconds", type=int, default=130)

    ARGS, HOST, argv = arguments(__doc__, options)
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
