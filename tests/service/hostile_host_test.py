#!/usr/bin/env python3
"""Hostile answers and non-ASCII text through the real module in the stand-in
host, against the stand-in service (the Windows module runs under wine):

- an answer whose file name holds a NUL followed by backslashes and ".." must
  leave nothing outside the image folder;
- a search text and a user name with non-ASCII letters, as the host stores
  them (the ANSI code page on Windows, UTF-8 natively), must reach the service
  as UTF-8 percent-encoding.

usage: hostile_host_test.py --host VDTHOST --module MODULE [--wine]
Environment: LUMORA_TEST_SERVICE_DIR (the running stand-in service).
"""

import json
import os
import shutil
import sys
import tempfile
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments, control, plugin_lines, service_url, write_settings  # noqa: E402

HOST = None
SEARCH = "/api/v1/search?categories=111&purity=100&sorting=date_added&page=1"


def host_path(path):
    return HOST.path(path)


def fetch_json(path):
    with urllib.request.urlopen(service_url() + path, timeout=10) as answer:
        return json.loads(answer.read().decode("utf-8"))


def run_host(workdir, folder, feeds, seconds):
    """Runs the module with the feeds (dicts of setting keys) and returns its output and log lines."""
    ini = os.path.join(workdir, "host.ini")
    # The host hands the module the bytes of the file: ANSI (cp1252 under wine) on Windows.
    write_settings(ini, host_path(folder), feeds, encoding="cp1252" if HOST.wine else "utf-8")
    env = dict(os.environ, LUMORA_SERVICE_URL=service_url(),
               LUMORA_REGISTRY_FILE=os.path.join(workdir, "registry.ini"))
    code, out = HOST.run(ini, "run", "--seconds", seconds, "--show-every", "1000", env=env, timeout=seconds + 120)
    if code != 0:
        raise AssertionError("vdthost exited with %d\n%s" % (code, out))
    return out, plugin_lines(out)


def all_files(top):
    found = []
    for root, dirs, files in os.walk(top):
        found += [os.path.relpath(os.path.join(root, n), top) for n in files + dirs]
    return sorted(found)


class NulInFileName(unittest.TestCase):
    def test_nothing_is_written_outside_the_image_folder(self):
        control("POST", "reset", {})
        first = fetch_json(SEARCH)["data"]
        # Each hostile name rides on a real image address (in its query), so
        # the transfer itself succeeds and the name alone decides the path.
        # Every element of the page carries one: whichever is picked is hostile.
        tails = ["a\u0000\\..\\..\\..\\evil%d.jpg", "\u0000\\..\\..\\..\\evil%d"]
        hostile = {"data.%d.path" % i: el["path"] + "?n=/" + tails[i % 2] % i for i, el in enumerate(first)}
        # An HTTP stack may fold the "\\..\\.." of such an address before it
        # sends it; whatever arrives with "evil" in it is answered with an image.
        control("POST", "faults", [{"match": "/api/v1/search", "kind": "wrong_types", "set": hostile},
                                   {"match": "^/.*evil", "kind": "image"}])
        work = tempfile.mkdtemp(prefix="lumora_hostile_", dir=os.getcwd())
        try:
            # Three ".." from the purity folder lead to "outer", beside "images".
            outer = os.path.join(work, "outer")
            folder = os.path.join(outer, "images")
            os.makedirs(folder)
            out, lines = run_host(work, folder, [{"Type": 0, "Flg": 1, "Categories": "111", "Purity": "100",
                                                  "Sorting": 1}], 8)
            self.assertEqual(os.listdir(outer), ["images"], out)
            self.assertEqual(sorted(os.listdir(work)), ["host.ini", "outer"] +
                             (["registry.ini"] if os.path.exists(os.path.join(work, "registry.ini")) else []), out)
            inside = all_files(folder)
            self.assertFalse([p for p in inside if "evil" in p and os.sep in p.replace("sfw" + os.sep, "", 1)],
                             inside)
            # The page was read and images arrived, the hostile ones among
            # them under a cleaned name in the purity folder.
            self.assertTrue([l for l in lines if l.startswith("ParseWallpaperArray: parsed 24")], out)
            images = [p for p in inside if p.startswith("sfw" + os.sep) and not p.endswith(".vprop")]
            self.assertTrue(images, out)
            for name in images:
                self.assertNotIn("\\", name[len("sfw") + 1:], images)
            self.assertTrue([p for p in images if "evil" in p], (images, out))
            seen = [l for l in lines if "evil" in l and "DownloadImage(), " in l and " -> " in l]
            self.assertTrue(seen, out)
            for line in seen:
                target = line.split(" -> ", 1)[1]
                self.assertTrue(target.startswith(host_path(folder)), line)
                parts = target[len(host_path(folder)):].replace("\\", "/").split("/")
                self.assertNotIn("..", parts, line)
                self.assertNotIn("\0", target, line)
        finally:
            shutil.rmtree(work, ignore_errors=True)
            control("POST", "reset", {})


class NonAsciiTextGoesOutAsUtf8(unittest.TestCase):
    def test_search_text_and_user_name(self):
        control("POST", "reset", {})
        work = tempfile.mkdtemp(prefix="lumora_utf8_", dir=os.getcwd())
        try:
            folder = os.path.join(work, "images")
            os.makedirs(folder)
            feeds = [{"Type": 0, "Flg": 1, "Query": "caf\u00e9", "Categories": "111", "Purity": "100", "Sorting": 1},
                     {"Type": 1, "Flg": 1, "Username": "Zo\u00eb", "CollId": "51", "Purity": "100"}]
            out, lines = run_host(work, folder, feeds, 5)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        log = control("GET", "log")
        searches = [e for e in log if e["url"].startswith("/api/v1/search")]
        collections = [e for e in log if e["url"].startswith("/api/v1/collections/")]
        self.assertTrue(searches and collections, out)
        self.assertEqual(searches[0]["url"], "/api/v1/search?q=caf%C3%A9&categories=111&purity=100"
                                             "&sorting=date_added&page=1")
        self.assertEqual(collections[0]["url"], "/api/v1/collections/Zo%C3%AB/51?purity=100&page=1")
        # The service understood both: pages with wallpapers came back.
        self.assertEqual([e["status"] for e in searches + collections], [200] * len(searches + collections))
        parsed = [l for l in lines if l.startswith("ParseWallpaperArray: parsed ") and not
                  l.startswith("ParseWallpaperArray: parsed 0 ")]
        self.assertGreaterEqual(len(parsed), 2, out)


def main():
    global HOST
    _, HOST, argv = arguments(__doc__)
    result = unittest.main(argv=argv + ["-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
