#!/usr/bin/env python3
"""End to end: the real module in the stand-in host, against the stand-in service.

Run by CTest with the stand-in service fixture:
  test_e2e.py --host VDTHOST --module MODULE [--wine]
The service URL is read from $LUMORA_TEST_SERVICE_DIR/url.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments, call, image_files, read_list, service_url, write_settings  # noqa: E402


ARGS = None


HOST = None  # hostkit.Host, made in main()


def host_path(path):
    """The path as the module sees it (wine maps / to drive Z:)."""
    return HOST.path(path)


def local(path):
    """A path from the module's files, as a path of this machine."""
    return HOST.local(path)


class E2E(unittest.TestCase):
    def setUp(self):
        call("/_control/reset")
        self.dir = tempfile.mkdtemp(prefix="lumora_e2e_")
        self.folder = os.path.join(self.dir, "images")
        os.mkdir(self.folder)

    def tearDown(self):
        if ARGS.keep:
            print("kept", self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def write_ini(self, feeds, max_local=5, vprop=0):
        self.ini = os.path.join(self.dir, "host.ini")
        write_settings(self.ini, host_path(self.folder), feeds, max_local=max_local, vprop=vprop)

    def run_host(self, seconds, show_every=1000):
        cmd = HOST.command(self.ini, "run", "--seconds", seconds, "--show-every", show_every)
        env = dict(os.environ, LUMORA_SERVICE_URL=service_url())
        p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=seconds + 120)
        out = p.stdout.decode("utf-8", "replace")
        self.assertEqual(p.returncode, 0, out + p.stderr.decode("utf-8", "replace"))
        prefix = "[Lumora Plugin] "
        return [l[len(prefix):].rstrip("\r") for l in out.splitlines() if l.startswith(prefix)]

    def images(self):
        return image_files(self.folder)

    def leftovers(self):
        return [p for p in glob.glob(os.path.join(self.folder, "**", "*"), recursive=True) if p.endswith(".__t")]

    def image_requests(self):
        return [e["url"] for e in call("/_control/log") if e["url"].startswith("/full/")]

    # -------------------------------------------------------------------------------------
    def test_images_land_in_purity_folders_with_side_files(self):
        self.write_ini([{"Type": 0, "Query": "", "Purity": "110", "Sorting": 1},
                        {"Type": 1, "Username": "demo", "CollId": 42, "Purity": "110"}], max_local=20, vprop=1)
        log = self.run_host(14)
        images = self.images()
        self.assertGreaterEqual(len(images), 3, "\n".join(log))
        recs = read_list(self.folder)
        self.assertEqual(sorted(local(r[1]) for r in recs), images)
        self.assertEqual({r[2] for r in recs} <= {0, 1}, True)
        for img in images:
            purity = os.path.basename(os.path.dirname(img))
            self.assertIn(purity, ("sfw", "sketchy"), img)
            side = os.path.splitext(img)[0] + ".vprop"
            with open(side, "rb") as f:
                data = f.read()
            self.assertEqual(data[:2], b"\xff\xfe", side)
            text = data[2:].decode("utf-16-le")
            self.assertIn("[Enable]\r\nDescription=1\r\n", text)
            self.assertIn("Text=" + os.path.basename(img), text)
        self.assertEqual(self.leftovers(), [])
        self.assertTrue(os.path.exists(os.path.join(self.folder, "vdt_vd_paging.lst")))
        self.assertIn("CLumoraThread::Stop(), result: 0", log)

    def test_cache_stays_within_its_limit_while_the_host_shows_files(self):
        self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=5)
        log = self.run_host(20, show_every=1)
        removed = [l for l in log if l.startswith("CleanDispFiles: Removed ")]
        self.assertGreaterEqual(len(removed), 1, "\n".join(log))
        for line in removed:
            self.assertFalse(os.path.exists(local(line[len("CleanDispFiles: Removed "):])), line)
        recs = read_list(self.folder)
        self.assertLessEqual(len(recs), 5)
        self.assertEqual(sorted(local(r[1]) for r in recs), self.images())
        full = [l for l in log if l.startswith("DownloadImages: cache full (")]
        for line in full:
            count, limit = map(int, re.match(r"DownloadImages: cache full \((\d+)/(\d+)\)", line).groups())
            self.assertEqual(limit, 5)
            self.assertLessEqual(count, 5)

    def test_restart_resumes_from_the_paging_file(self):
        self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=50)
        first = self.run_host(3)
        pages = [int(m.group(1)) for m in (re.match(r"Refresh 0: \d+ items found, page (\d+)/", l) for l in first) if m]
        self.assertTrue(pages, "\n".join(first))
        files = read_list(self.folder)
        call("/_control/reset")
        second = self.run_host(3)
        asked = [l for l in second if l.startswith("Refresh 0: page=")]
        self.assertTrue(asked, "\n".join(second))
        self.assertTrue(asked[0].startswith("Refresh 0: page=%d," % (pages[-1] + 1)), asked[0])
        searches = [e["url"] for e in call("/_control/log") if e["url"].startswith("/api/v1/search")]
        self.assertIn("page=%d" % (pages[-1] + 1), searches[0])
        self.assertIn("ReadLocalFileList: file list loaded (%d local, v3)" % len(files), second)

    def test_429_slows_downloads_to_42_seconds(self):
        call("/_control/faults", [{"match": "^/full/", "count": 1, "status": 429}])
        self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=20)
        log = self.run_host(12)
        # Without the pause a pass would come every 2 s.
        self.assertEqual(len(self.image_requests()), 1, "\n".join(log))
        self.assertTrue(any(l.startswith("DownloadImage(), HTTP Error 429") for l in log), "\n".join(log))
        self.assertEqual(self.images(), [])
        self.assertEqual(self.leftovers(), [])

    def test_download_pause_holds_while_the_host_shows_files(self):
        # The host reports a shown file every second; each report wakes the
        # worker, but a wake must not cut short the pause that a failed
        # transfer asked for (429: 42 s or its Retry-After; 5xx: 2 s more each).
        first = call("/api/v1/search?purity=100")["data"][0]["id"]
        with urllib.request.urlopen(service_url() + "/thumbs/sm/%s/%s.jpg" % (first[:2], first), timeout=10) as r:
            picture = r.read()
        cases = [  # (rule for every image, most image requests in 12 s)
            ({"match": "^/full/", "status": 429, "headers": {"Retry-After": "60"}}, 1),
            ({"match": "^/full/", "status": 503}, 4),  # after 0, 4, 10 s (intervals 4 s, 6 s)
        ]
        for rule, most in cases:
            with self.subTest(rule=rule):
                call("/_control/reset")
                call("/_control/faults", [rule])
                shutil.rmtree(self.folder)
                os.mkdir(self.folder)
                with open(os.path.join(self.folder, "shown.jpg"), "wb") as f:
                    f.write(picture)  # something for the host to show
                self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=20)
                log = self.run_host(12, show_every=1)
                self.assertGreaterEqual(len([l for l in log if l.startswith("DownloadImage(), HTTP Error")]), 1,
                                        "\n".join(log))
                self.assertLessEqual(len(self.image_requests()), most, "\n".join(log))

    def test_403_drops_the_wallpaper_and_goes_on(self):
        call("/_control/faults", [{"match": "^/full/", "count": 1, "status": 403}])
        self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=20)
        log = self.run_host(9)
        requests = self.image_requests()
        self.assertGreaterEqual(len(requests), 2, "\n".join(log))
        denied = requests[0]
        self.assertEqual(requests.count(denied), 1)  # never asked again
        self.assertTrue(any(l.startswith("DownloadImages: 403 Access Denied for ") and l.endswith(denied)
                            for l in log), "\n".join(log))
        self.assertGreaterEqual(len(self.images()), 1)
        self.assertNotIn(os.path.basename(denied), [os.path.basename(p) for p in self.images()])

    def test_stop_during_a_slow_transfer_leaves_no_partial_file(self):
        # The smallest image has 131 bytes: at 16 bytes a second no transfer
        # can finish within the run, so the stop always meets one under way.
        call("/_control/faults", [{"match": "^/full/", "kind": "slow", "chunk_bytes": 16,
                                      "chunk_delay_ms": 1000}])
        self.write_ini([{"Type": 0, "Purity": "100", "Sorting": 1}], max_local=20)
        log = self.run_host(3)
        self.assertGreaterEqual(len(self.image_requests()), 1, "\n".join(log))
        self.assertIn("CLumoraThread::Stop(), result: 0", log)
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.images(), [])
        self.assertEqual(read_list(self.folder), [])


def main():
    global ARGS, HOST
    ARGS, HOST, argv = arguments(__doc__)
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
