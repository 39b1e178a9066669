"""Tests of the stand-in Lumora service: the behaviour the plug-in's tests,
the benchmark and the demo rely on.  Run from the repository root:

    python3 -m unittest tools/test_lumora_service.py
"""

import collections
import http.client
import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
from datetime import datetime, timedelta
from urllib.parse import urlsplit

SERVICE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lumora_service.py")
KEY = "testkey123"
SEED = "7"
TIME_FORMAT = "%Y-%m-%d %H:%M:%S"

Result = collections.namedtuple("Result", "outcome status headers body")


class Service:
    """One stand-in process on a free port, stopped with SIGTERM."""

    def __init__(self, *args):
        self.tmp = tempfile.TemporaryDirectory()
        self.port_file = os.path.join(self.tmp.name, "port")
        self.proc = subprocess.Popen(
            [sys.executable, SERVICE, "--port", "0", "--port-file", self.port_file, *args],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode("ascii")
        match = re.fullmatch(r"LISTENING http://127\.0\.0\.1:(\d+)\n", line)
        if not match:
            self.proc.kill()
            raise RuntimeError("unexpected first line %r" % line)
        self.port = int(match.group(1))
        self.base = "http://127.0.0.1:%d" % self.port

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=10)
        finally:
            self.proc.stdout.close()
            self.tmp.cleanup()

    def fetch(self, path, method="GET", headers=None, body=None, timeout=10):
        """Any answer as a Result: "ok", "incomplete" (body shorter than
        announced) or "timeout" (no status line within `timeout`)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            try:
                return Result("ok", resp.status, resp.headers, resp.read())
            except http.client.IncompleteRead as short:
                return Result("incomplete", resp.status, resp.headers, short.partial)
        except (socket.timeout, TimeoutError):
            return Result("timeout", None, None, None)
        finally:
            conn.close()

    def get(self, path, **kwargs):
        result = self.fetch(path, **kwargs)
        assert result.outcome == "ok", (path, result.outcome)
        return result

    def json(self, path, **kwargs):
        result = self.get(path, **kwargs)
        return result.status, json.loads(result.body)

    def control(self, name, doc=None):
        if doc is None:
            return self.json("/_control/" + name)
        return self.json("/_control/" + name, method="POST", body=json.dumps(doc),
                         headers={"Content-Type": "application/json"})

    def pages(self, query, path="/api/v1/search", headers=None):
        """Every element of every page, and the first page's meta."""
        status, first = self.json("%s?%s&page=1" % (path, query), headers=headers)
        assert status == 200, status
        items = list(first["data"])
        for page in range(2, first["meta"]["last_page"] + 1):
            items += self.json("%s?%s&page=%d" % (path, query, page), headers=headers)[1]["data"]
        return items, first["meta"]


MAIN = None


def setUpModule():
    global MAIN
    MAIN = Service("--seed", SEED, "--rate-limit", "0")


def tearDownModule():
    MAIN.stop()


class ServiceTest(unittest.TestCase):
    def setUp(self):
        MAIN.control("reset", {})


# ---------------------------------------------------------------------------
# Independent checks of the image formats
# ---------------------------------------------------------------------------

def check_jpeg(data):
    """Walks the markers of a baseline JPEG and Huffman-decodes every block of
    its scan with the tables the file itself carries; returns (width, height)."""
    assert data[:2] == b"\xff\xd8", "no SOI"
    assert data[-2:] == b"\xff\xd9", "no EOI"
    pos, huffman, quant, frame = 2, {}, set(), None
    while True:
        assert data[pos] == 0xFF, "marker expected at %d" % pos
        kind = data[pos + 1]
        (length,) = struct.unpack(">H", data[pos + 2:pos + 4])
        seg = data[pos + 4:pos + 2 + length]
        pos += 2 + length
        assert kind not in (0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF), \
            "not baseline: %x" % kind
        if kind == 0xDB:
            for i in range(0, len(seg), 65):
                quant.add(seg[i] & 15)
        elif kind == 0xC0:
            precision, height, width, count = struct.unpack(">BHHB", seg[:6])
            frame = (precision, height, width, [tuple(seg[6 + 3 * i:9 + 3 * i]) for i in range(count)])
        elif kind == 0xC4:
            i = 0
            while i < len(seg):
                counts, table, code, k = seg[i + 1:i + 17], {}, 0, 0
                values = seg[i + 17:i + 17 + sum(counts)]
                for size in range(1, 17):
                    for _ in range(counts[size - 1]):
                        table[size, code] = values[k]
                        k, code = k + 1, code + 1
                    code <<= 1
                huffman[seg[i]] = table
                i += 17 + sum(counts)
        elif kind == 0xDA:
            selectors = {seg[1 + 2 * i]: seg[2 + 2 * i] for i in range(seg[0])}
            break
    precision, height, width, comps = frame
    assert precision == 8 and all(c[1] == 0x11 and c[2] in quant for c in comps)
    scan = data[pos:-2]
    assert re.search(rb"\xff[^\x00]", scan) is None, "marker inside the scan"
    bits = "".join("{:08b}".format(b) for b in scan.replace(b"\xff\x00", b"\xff"))
    cursor = 0

    def symbol(table):
        nonlocal cursor
        code = 0
        for size in range(1, 17):
            code = code << 1 | int(bits[cursor])
            cursor += 1
            if (size, code) in table:
                return table[size, code]
        raise AssertionError("no Huffman code at bit %d" % cursor)

    for _ in range(-(-height // 8) * -(-width // 8)):
        for comp in comps:
            sel = selectors[comp[0]]
            size = symbol(huffman[sel >> 4])  # DC: size, then that many bits
            cursor += size
            k = 1
            while k < 64:
                rs = symbol(huffman[0x10 | sel & 15])
                if rs == 0:
                    break
                k += (rs >> 4) + 1  # skipped zeros, then one coefficient (ZRL: 16 zeros)
                cursor += rs & 15
            assert k <= 64, "block overruns 64 coefficients"
    padding = bits[cursor:]
    assert len(padding) < 8 and set(padding) <= {"1"}, "trailing scan data %r" % padding
    return width, height


def check_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, "bad CRC in %r" % kind
        chunks.append((kind, body))
        pos += 12 + length
    assert chunks[0][0] == b"IHDR" and chunks[-1] == (b"IEND", b"")
    width, height, depth, color = struct.unpack(">IIBB", chunks[0][1][:10])
    channels = {0: 1, 2: 3, 6: 4}[color]
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    assert depth == 8 and len(raw) == height * (1 + width * channels)
    assert all(raw[y * (1 + width * channels)] <= 4 for y in range(height))
    return width, height


# ---------------------------------------------------------------------------

class JsonDialectTest(ServiceTest):
    def test_slashes_and_non_ascii_are_escaped(self):
        cases = [  # (path, a non-ASCII text the answer carries)
            ("/api/v1/search?q=caf%C3%A9", "café"),
            ("/api/v1/collections/Zo%C3%AB", "Fleurs d'été"),
            ("/api/v1/collections/%D0%94%D0%BC%D0%B8%D1%82%D1%80%D0%B8%D0%B9", "Пейзажи"),
            ("/api/v1/collections/%D0%94%D0%BC%D0%B8%D1%82%D1%80%D0%B8%D0%B9/64?purity=111&apikey=" + KEY,
             None),
        ]
        for path, text in cases:
            with self.subTest(path=path):
                body = MAIN.get(path).body
                self.assertTrue(body.isascii())
                self.assertIsNone(re.search(rb"(?<!\\)/", body), "bare slash")
                doc = json.loads(body)
                plain = json.dumps(doc, ensure_ascii=False)
                if text:
                    self.assertIn(text, plain)
                    self.assertIn(("\\u%04x" % ord(next(c for c in text if ord(c) > 127))).encode(), body)
                if "data" in doc and doc["data"] and "path" in doc["data"][0]:
                    self.assertTrue(doc["data"][0]["path"].startswith(MAIN.base + "/full/"))

    def test_request_texts_are_read_as_utf8_only(self):
        # The real service reads UTF-8. Bytes of a Windows code page are no
        # UTF-8: such a request is refused with 400, never guessed at.
        cases = [  # (path, status, a text the answer must carry)
            ("/api/v1/search?q=caf%C3%A9", 200, "café"),
            ("/api/v1/search?q=caf%E9", 400, None),
            ("/api/v1/search?purity=100&q=%2B%D0%9C%D0%BE%D1%81%D0%BA%D0%B2%D0%B0", 200, "+москва"),
            ("/api/v1/search?q=ok&ratios=16x9%2C%FF", 400, None),  # any parameter, not only q
            ("/api/v1/collections/Zo%C3%AB", 200, "fleurs d'été"),
            ("/api/v1/collections/Zo%EB", 400, None),
            ("/api/v1/collections/Zo%EB/51?page=1", 400, None),
            ("/api/v1/collections/Zo%C3%AB/51?page=1", 200, None),
        ]
        for path, status, text in cases:
            with self.subTest(path=path):
                got, doc = MAIN.json(path)
                self.assertEqual(got, status)
                if status == 400:
                    self.assertIn("UTF-8", doc["error"])
                    self.assertNotIn("data", doc)
                if text:
                    self.assertIn(text, json.dumps(doc, ensure_ascii=False).casefold())
        utf8 = MAIN.json("/api/v1/search?q=caf%C3%A9")[1]["meta"]
        self.assertEqual(utf8["query"], "café")
        self.assertGreater(utf8["total"], 0)
        # The request log still shows what came.
        urls = [e["url"] for e in MAIN.control("log")[1]]
        self.assertIn("/api/v1/search?q=caf%E9", urls)


class SearchTest(ServiceTest):
    def test_paging_covers_every_result_once(self):
        query = "purity=111&categories=111&sorting=date_added&apikey=" + KEY
        first = MAIN.json("/api/v1/search?%s&page=1" % query)[1]
        total, last = first["meta"]["total"], first["meta"]["last_page"]
        self.assertGreater(total, 24 * 5)
        self.assertEqual(last, -(-total // 24))
        seen = []
        for page in range(1, last + 2):
            meta_data = MAIN.json("/api/v1/search?%s&page=%d" % (query, page))[1]
            meta, data = meta_data["meta"], meta_data["data"]
            self.assertEqual((meta["current_page"], meta["last_page"], meta["total"]), (page, last, total))
            self.assertEqual(int(meta["per_page"]), 24)
            self.assertEqual(isinstance(meta["per_page"], str), page % 2 == 0)
            expected = 24 if page < last else total - 24 * (last - 1) if page == last else 0
            self.assertEqual(len(data), expected, "page %d" % page)
            seen += data
        self.assertEqual(len({w["id"] for w in seen}), total)
        dates = [w["created_at"] for w in seen]
        self.assertEqual(dates, sorted(dates, reverse=True))

    def test_random_order_is_stable_for_a_seed(self):
        def page(query):
            doc = MAIN.json("/api/v1/search?sorting=random&" + query)[1]
            return [w["id"] for w in doc["data"]], doc["meta"]["seed"]

        ids_a, seed_a = page("page=1")
        ids_b, seed_b = page("page=1")
        for seed in (seed_a, seed_b):
            self.assertRegex(seed, r"^[A-Za-z0-9]{6}$")
        self.assertNotEqual(seed_a, seed_b)
        self.assertEqual(page("seed=%s&page=1" % seed_a), (ids_a, seed_a))
        second, _ = page("seed=%s&page=2" % seed_a)
        self.assertEqual(len(second), 24)
        self.assertFalse(set(second) & set(ids_a))
        self.assertNotEqual(page("seed=%s&page=1" % seed_b)[0], ids_a)
        newest = MAIN.json("/api/v1/search?sorting=date_added&page=1")[1]
        self.assertIn("seed", newest["meta"])
        self.assertIsNone(newest["meta"]["seed"])
        self.assertNotEqual([w["id"] for w in newest["data"]], ids_a)

    def test_nsfw_needs_the_key(self):
        cases = [  # (query, headers, expected total is zero, purities allowed)
            ("purity=001", {}, True, set()),
            ("purity=001&apikey=" + KEY, {}, False, {"nsfw"}),
            ("purity=001", {"X-API-Key": KEY}, False, {"nsfw"}),
            ("purity=111", {}, False, {"sfw", "sketchy"}),
            ("purity=100", {}, False, {"sfw"}),
            ("purity=010", {}, False, {"sketchy"}),
        ]
        totals = {}
        for query, headers, empty, allowed in cases:
            with self.subTest(query=query, headers=headers):
                items, meta = MAIN.pages(query + "&sorting=views", headers=headers)
                self.assertEqual(meta["total"] == 0, empty)
                self.assertEqual(len(items), meta["total"])
                self.assertEqual({w["purity"] for w in items}, allowed)
                totals[query, bool(headers)] = meta["total"]
        self.assertEqual(totals["purity=001", True], totals["purity=001&apikey=" + KEY, False])
        self.assertEqual(totals["purity=111", False], totals["purity=100", False] + totals["purity=010", False])

    def test_wrong_key_is_refused(self):
        cases = [
            ("/api/v1/search?purity=111&apikey=wrong", {}),
            ("/api/v1/search?purity=100", {"X-API-Key": "wrong"}),
            ("/api/v1/search?apikey=" + KEY, {"X-API-Key": "wrong"}),
            ("/api/v1/collections/demo?apikey=wrong", {}),
        ]
        for path, headers in cases:
            with self.subTest(path=path, headers=headers):
                result = MAIN.get(path, headers=headers)
                self.assertEqual(result.status, 401)
                self.assertEqual(json.loads(result.body), {"error": "Unauthorized"})

    def test_filters(self):
        everything, _ = MAIN.pages("purity=111&apikey=" + KEY)
        cases = [  # (parameter, what each result must satisfy)
            ("categories=010", lambda w: w["category"] == "anime"),
            ("categories=101", lambda w: w["category"] in ("general", "people")),
            ("atleast=2560x1440", lambda w: w["dimension_x"] >= 2560 and w["dimension_y"] >= 1440),
            ("ratios=16x9%2C16x10", lambda w: min(abs(w["dimension_x"] / w["dimension_y"] - r)
                                                  for r in (16 / 9, 16 / 10)) < 0.01),
            ("ratios=portrait", lambda w: w["dimension_y"] > w["dimension_x"]),
        ]
        for param, ok in cases:
            with self.subTest(param=param):
                items, meta = MAIN.pages("purity=111&apikey=%s&%s" % (KEY, param))
                self.assertTrue(items)
                self.assertTrue(all(ok(w) for w in items))
                self.assertEqual(len(items), sum(1 for w in everything if ok(w)))

    def test_query_words(self):
        total = MAIN.json("/api/v1/search?purity=100")[1]["meta"]["total"]
        with_tag, meta = MAIN.pages("purity=100&q=%2Bcaf%C3%A9")
        without = MAIN.json("/api/v1/search?purity=100&q=-caf%C3%A9")[1]["meta"]
        self.assertTrue(0 < meta["total"] < total)
        self.assertEqual(meta["total"] + without["total"], total)
        for w in with_tag[:6]:
            tags = [t["name"] for t in MAIN.json("/api/v1/w/" + w["id"])[1]["data"]["tags"]]
            self.assertTrue(any("café" in t for t in tags), tags)

    def test_toplist_ranges(self):
        newest = MAIN.json("/api/v1/search?purity=111&sorting=date_added&apikey=" + KEY)[1]["data"][0]
        # The service's "now" is at or after its newest upload, so a day's toplist
        # holds nothing older than a day before that upload.
        day_before = datetime.strptime(newest["created_at"], TIME_FORMAT) - timedelta(days=1)
        totals = []
        for top in ("1d", "3d", "1w", "1M", "3M", "6M", "1y"):
            items, meta = MAIN.pages("purity=111&sorting=toplist&topRange=%s&apikey=%s" % (top, KEY))
            favorites = [w["favorites"] for w in items]
            self.assertEqual(favorites, sorted(favorites, reverse=True))
            totals.append(meta["total"])
            if top == "1d":
                self.assertTrue(items)
                self.assertTrue(all(datetime.strptime(w["created_at"], TIME_FORMAT) >= day_before
                                    for w in items))
        self.assertEqual(totals, sorted(totals))
        self.assertLess(totals[0], totals[-1])
        everything = MAIN.json("/api/v1/search?purity=111&apikey=" + KEY)[1]["meta"]["total"]
        self.assertLess(totals[-1], everything)


class WallpaperTest(ServiceTest):
    FIELDS = {
        "id": lambda v: re.fullmatch(r"[a-z0-9]{6}", v),
        "url": lambda v: v.startswith(MAIN.base + "/"),
        "short_url": lambda v: v.startswith(MAIN.base + "/"),
        "views": lambda v: isinstance(v, int),
        "favorites": lambda v: isinstance(v, int),
        "purity": lambda v: v in ("sfw", "sketchy", "nsfw"),
        "category": lambda v: v in ("general", "anime", "people"),
        "dimension_x": lambda v: isinstance(v, int) and v > 0,
        "dimension_y": lambda v: isinstance(v, int) and v > 0,
        "resolution": lambda v: re.fullmatch(r"\d+x\d+", v),
        "ratio": lambda v: re.fullmatch(r"\d+(\.\d+)?", v),
        "file_size": lambda v: isinstance(v, int) and v > 0,
        "file_type": lambda v: v in ("image/jpeg", "image/png"),
        "created_at": lambda v: re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", v),
        "colors": lambda v: v and all(re.fullmatch(r"#[0-9a-f]{6}", c) for c in v),
        "path": lambda v: isinstance(v, str),
        "thumbs": lambda v: set(v) == {"large", "original", "small"},
    }

    def check_element(self, w):
        for field, ok in self.FIELDS.items():
            self.assertTrue(ok(w[field]), "%s=%r" % (field, w[field]))
        self.assertEqual(w["resolution"], "%dx%d" % (w["dimension_x"], w["dimension_y"]))
        self.assertAlmostEqual(float(w["ratio"]), w["dimension_x"] / w["dimension_y"], delta=0.006)
        ext = {"image/jpeg": "jpg", "image/png": "png"}[w["file_type"]]
        self.assertEqual(w["path"], "%s/full/%s/lumora-%s.%s" % (MAIN.base, w["id"][:2], w["id"], ext))

    def test_search_elements(self):
        items, _ = MAIN.pages("purity=111&apikey=" + KEY)
        for w in items:
            self.check_element(w)
            self.assertNotIn("uploader", w)
        for field, values in (("purity", {"sfw", "sketchy", "nsfw"}), ("category", {"general", "anime", "people"}),
                              ("file_type", {"image/jpeg", "image/png"})):
            counts = collections.Counter(w[field] for w in items)
            self.assertEqual(set(counts), values)
        self.assertEqual(collections.Counter(w["purity"] for w in items).most_common(1)[0][0], "sfw")
        self.assertTrue(any(w["id"][0].isdigit() for w in items))
        self.assertTrue(any(w["id"][0].isalpha() for w in items))

    def test_single_wallpaper(self):
        items, _ = MAIN.pages("purity=001&apikey=" + KEY)
        nsfw = items[0]["id"]
        sfw = MAIN.json("/api/v1/search?purity=100")[1]["data"][0]["id"]
        status, doc = MAIN.json("/api/v1/w/" + sfw)
        self.assertEqual(status, 200)
        self.check_element(doc["data"])
        self.assertEqual(doc["data"]["uploader"]["group"], "User")
        self.assertTrue(doc["data"]["uploader"]["username"])
        cases = [("/api/v1/w/" + nsfw, 401), ("/api/v1/w/%s?apikey=%s" % (nsfw, KEY), 200),
                 ("/api/v1/w/zzzzzz", 404)]
        for path, expected in cases:
            with self.subTest(path=path):
                status, doc = MAIN.json(path)
                self.assertEqual(status, expected)
                self.assertEqual("error" in doc, expected != 200)

    def test_uploaders_with_non_ascii_names(self):
        for name, escaped in (("Zoë", "Zo%C3%AB"), ("Дмитрий", "%D0%94%D0%BC%D0%B8%D1%82%D1%80%D0%B8%D0%B9")):
            with self.subTest(name=name):
                items, _ = MAIN.pages("purity=111&apikey=%s&q=%%40%s" % (KEY, escaped))
                self.assertTrue(items)
                for w in items[:3]:
                    body = MAIN.get("/api/v1/w/%s?apikey=%s" % (w["id"], KEY)).body
                    self.assertEqual(json.loads(body)["data"]["uploader"]["username"], name)
                    self.assertIn(("\\u%04x" % ord(name[-1])).encode(), body)


class CollectionsTest(ServiceTest):
    def test_collection_lists(self):
        status, doc = MAIN.json("/api/v1/collections/demo?")
        self.assertEqual(status, 200)
        listed = [(c["id"], c["label"], c["count"]) for c in doc["data"]]
        self.assertEqual(listed[:2], [(15, "Default", 10), (27, "Nature", 3)])
        self.assertTrue(any(count > 48 for _, _, count in listed))
        for c in doc["data"]:
            self.assertEqual(set(c), {"id", "label", "views", "public", "count"})
            self.assertIsInstance(c["id"], int)
        self.assertEqual(MAIN.json("/api/v1/collections/marta")[1]["data"][0]["count"], 2)
        self.assertEqual(MAIN.json("/api/v1/collections/empty?"), (200, {"data": []}))
        status, doc = MAIN.json("/api/v1/collections/no-such-user?")
        self.assertEqual(status, 404)
        self.assertIn("error", doc)

    def test_collection_pages(self):
        listed = {c["id"]: c for c in MAIN.json("/api/v1/collections/demo")[1]["data"]}
        big = max(listed.values(), key=lambda c: c["count"])
        big_path = "/api/v1/collections/demo/%d" % big["id"]
        cases = [  # (path, query, total expected)
            ("/api/v1/collections/demo/15", "", 10),
            ("/api/v1/collections/DEMO/27", "purity=100", 3),
            ("/api/v1/collections/marta/91", "", 2),
            (big_path, "purity=111&apikey=" + KEY, big["count"]),
        ]
        for path, query, total in cases:
            with self.subTest(path=path, query=query):
                items, meta = MAIN.pages(query, path)
                self.assertEqual(set(meta), {"current_page", "last_page", "per_page", "total"})
                self.assertEqual((meta["total"], meta["last_page"]), (total, max(1, -(-total // 24))))
                self.assertEqual(len({w["id"] for w in items}), total)
                for w in items:
                    self.assertEqual(set(w["uploader"]), {"username", "group", "avatar"})
                past = MAIN.json("%s?%s&page=%d" % (path, query, meta["last_page"] + 1))[1]
                self.assertEqual(past["data"], [])
                self.assertEqual(past["meta"]["total"], total)
        anonymous, meta = MAIN.pages("purity=111", big_path)
        self.assertTrue(0 < meta["total"] < big["count"])
        self.assertNotIn("nsfw", {w["purity"] for w in anonymous})
        for path in ("/api/v1/collections/demo/999", "/api/v1/collections/empty/80",
                     "/api/v1/collections/nobody/15", "/api/v1/collections/alice/15"):
            with self.subTest(path=path):
                self.assertEqual(MAIN.json(path)[0], 404)


class ImageTest(ServiceTest):
    def test_image_files_decode_and_match_their_element(self):
        items, _ = MAIN.pages("purity=111&apikey=" + KEY)
        distinct = {}
        for w in items:
            distinct.setdefault((w["file_type"], w["file_size"]), w)
        self.assertGreaterEqual(len(distinct), 3)
        self.assertEqual({t for t, _ in distinct}, {"image/jpeg", "image/png"})
        for (file_type, size), w in distinct.items():
            with self.subTest(path=w["path"]):
                result = MAIN.get(urlsplit(w["path"]).path)
                self.assertEqual(result.status, 200)
                self.assertEqual(result.headers["Content-Type"], file_type)
                self.assertEqual(len(result.body), size)
                width, height = (check_jpeg if file_type == "image/jpeg" else check_png)(result.body)
                self.assertGreater(width * height, 0)

    def test_wrong_image_names_are_404(self):
        w = MAIN.json("/api/v1/search?sorting=date_added")[1]["data"][0]
        path = urlsplit(w["path"]).path
        other_ext = path[:-3] + ("png" if path.endswith("jpg") else "jpg")
        wrong_dir = path.replace("/full/%s/" % w["id"][:2], "/full/zz/" if w["id"][:2] != "zz" else "/full/yy/")
        for bad in (other_ext, wrong_dir, "/full/ab/lumora-nothere.jpg"):
            with self.subTest(path=bad):
                self.assertEqual(MAIN.get(bad).status, 404)

    def test_benchmark_file_is_streamed_to_its_length(self):
        conn = http.client.HTTPConnection("127.0.0.1", MAIN.port, timeout=10)
        conn.request("GET", "/bench/3mb.jpg")
        resp = conn.getresponse()
        self.assertEqual((resp.status, resp.headers["Content-Type"]), (200, "image/jpeg"))
        self.assertEqual(int(resp.headers["Content-Length"]), 3 * 1024 * 1024)
        data = bytearray()
        while True:
            piece = resp.read(65536)
            if not piece:
                break
            data += piece
        conn.close()
        self.assertEqual(len(data), 3 * 1024 * 1024)
        self.assertEqual(data[:4], b"\xff\xd8\xff\xe0")
        pos = 2
        while data[pos:pos + 2] != b"\xff\xd9":  # every byte belongs to a well-formed segment
            self.assertEqual(data[pos], 0xFF)
            pos += 2 + struct.unpack(">H", data[pos + 2:pos + 4])[0]
        self.assertEqual(pos + 2, len(data))
        self.assertEqual(MAIN.get("/bench/0mb.jpg").status, 404)


class FaultTest(ServiceTest):
    @classmethod
    def setUpClass(cls):
        first = MAIN.json("/api/v1/search?sorting=date_added&purity=100")[1]["data"][0]
        cls.image = urlsplit(first["path"]).path
        cls.image_bytes = MAIN.get(cls.image).body

    def expect_error_json(self, r, status):
        self.assertEqual((r.outcome, r.status), ("ok", status))
        self.assertEqual(r.headers["Content-Type"], "application/json")
        self.assertIsInstance(json.loads(r.body)["error"], str)

    def test_each_fault_kind(self):
        search = "/api/v1/search?sorting=date_added"
        normal = {p: MAIN.get(p).body for p in (search, "/api/v1/collections/demo", self.image)}
        normal_search = normal[search]

        def is_html(r):
            return r.headers["Content-Type"].startswith("text/html") and r.body.startswith(b"<!DOCTYPE html>")

        def not_json(body):
            try:
                json.loads(body)
            except ValueError:
                return True
            return False

        cases = [  # (rule, path, check of the Result)
            ({"status": 401}, search, lambda r: self.expect_error_json(r, 401)),
            ({"status": 403}, search, lambda r: self.expect_error_json(r, 403)),
            ({"status": 404}, "/api/v1/collections/demo", lambda r: self.expect_error_json(r, 404)),
            ({"status": 500}, search, lambda r: self.expect_error_json(r, 500)),
            ({"status": 429}, search, lambda r: self.assertTrue(
                r.status == 429 and r.headers["Retry-After"].isdigit() and is_html(r))),
            ({"status": 429, "headers": {"Retry-After": "7"}}, search,
             lambda r: self.assertEqual((r.status, r.headers["Retry-After"]), (429, "7"))),
            ({"status": 403}, self.image, lambda r: self.assertTrue(r.status == 403 and is_html(r))),
            ({"kind": "status", "status": 500, "body": "oops"}, search,
             lambda r: self.assertEqual((r.status, r.body), (500, b"oops"))),
            ({"kind": "empty"}, search, lambda r: self.assertEqual(
                (r.outcome, r.status, r.body, r.headers["Content-Length"]), ("ok", 200, b"", "0"))),
            ({"kind": "invalid_json"}, search, lambda r: self.assertTrue(
                r.status == 200 and r.body and not_json(r.body) and normal_search.startswith(r.body))),
            ({"kind": "wrong_types"}, search, lambda r: self.assertEqual(
                (lambda d: (type(d["meta"]["last_page"]), type(d["meta"]["total"]), d["data"]))(json.loads(r.body)),
                (str, str, {}))),
            ({"kind": "wrong_types", "set": {"data.0.id": {"x": 1}}}, search, lambda r: self.assertEqual(
                (lambda d: (d["data"][0]["id"], type(d["meta"]["last_page"])))(json.loads(r.body)), ({"x": 1}, int))),
            ({"kind": "html200"}, self.image, lambda r: self.assertTrue(r.status == 200 and is_html(r))),
            ({"kind": "image"}, search, lambda r: self.assertEqual(
                (r.status, r.headers["Content-Type"], check_jpeg(r.body) is not None), (200, "image/jpeg", True))),
            ({"kind": "drop"}, search, lambda r: self.assertEqual(
                (r.outcome, r.body), ("incomplete", normal_search[:len(normal_search) // 2]))),
            ({"kind": "drop", "bytes": 100}, self.image, lambda r: self.assertEqual(
                (r.outcome, r.body, r.headers["Content-Length"]),
                ("incomplete", self.image_bytes[:100], str(len(self.image_bytes))))),
            ({"kind": "short_image"}, self.image, lambda r: self.assertEqual(
                (r.outcome, r.body, r.headers["Content-Length"]),
                ("incomplete", self.image_bytes, str(len(self.image_bytes) + 1024)))),
            ({"kind": "unsized"}, self.image, lambda r: self.assertEqual(
                (r.outcome, r.body, "Content-Length" in r.headers, r.headers["Transfer-Encoding"]),
                ("ok", self.image_bytes, False, None))),
            ({"kind": "unsized", "framing": "chunked"}, self.image, lambda r: self.assertEqual(
                (r.outcome, r.body, "Content-Length" in r.headers, r.headers["Transfer-Encoding"]),
                ("ok", self.image_bytes, False, "chunked"))),
            ({"kind": "unsized", "framing": "chunked", "bytes": 300000}, self.image, lambda r: self.assertEqual(
                (r.outcome, len(r.body), r.body[:len(self.image_bytes)], r.body[len(self.image_bytes):].strip(b"\0")),
                ("ok", 300000, self.image_bytes, b""))),
            ({"kind": "unsized", "bytes": 300000}, self.image, lambda r: self.assertEqual(
                (r.outcome, len(r.body), "Content-Length" in r.headers), ("ok", 300000, False))),
            ({"kind": "slow", "chunk_delay_ms": 1, "chunk_bytes": 64}, self.image,
             lambda r: self.assertEqual((r.outcome, r.body), ("ok", self.image_bytes))),
        ]
        for rule, path, check in cases:
            with self.subTest(rule=rule, path=path):
                MAIN.control("faults", [dict(rule, match=path.partition("?")[0], count=1)])
                check(MAIN.fetch(path))
                after = MAIN.get(path)  # the rule was for one request only
                self.assertEqual((after.status, after.body), (200, normal[path]))

    def test_slow_answer_keeps_the_client_waiting(self):
        MAIN.control("faults", [{"match": "/api/v1/search", "kind": "slow", "delay_ms": 600, "count": 1}])
        self.assertEqual(MAIN.fetch("/api/v1/search", timeout=0.1).outcome, "timeout")
        self.assertEqual(MAIN.fetch("/api/v1/search", timeout=10).status, 200)

    def test_prefix_regex_and_count(self):
        w = MAIN.json("/api/v1/search?sorting=views")[1]["data"][0]["id"]
        MAIN.control("faults", [{"match": "^/api/v1/w/[a-z0-9]{6}$", "status": 404},
                                {"match": "/full/", "status": 403, "count": 2}])
        statuses = [MAIN.get(p).status for p in (
            "/api/v1/search", "/api/v1/w/" + w, "/api/v1/w/" + w, "/api/v1/w/%s?apikey=%s" % (w, KEY),
            self.image, self.image, self.image)]
        self.assertEqual(statuses, [200, 404, 404, 200, 403, 403, 200])
        self.assertEqual([r["remaining"] for r in MAIN.control("faults")[1]], [None, 0])
        MAIN.control("reset", {})
        self.assertEqual(MAIN.control("faults"), (200, []))
        self.assertEqual(MAIN.get("/api/v1/w/" + w).status, 200)

    def test_outage_lasts_until_the_rules_are_cleared(self):
        # One rule with no count stands for a service that is down: every API
        # path and every file, however often asked, until the rules are replaced.
        wid = self.image.rpartition("-")[2][:6]
        paths = ["/api/v1/search?page=2", "/api/v1/collections/demo/15", "/api/v1/w/" + wid, self.image,
                 "/thumbs/sm/%s/%s.jpg" % (wid[:2], wid)]
        MAIN.control("faults", [{"status": 503}])
        for _ in range(3):
            for path in paths:
                with self.subTest(path=path):
                    self.assertEqual(MAIN.get(path).status, 503)
        self.assertEqual([r["remaining"] for r in MAIN.control("faults")[1]], [None])
        self.assertEqual(MAIN.control("health")[0], 200)  # the control API is never faulted
        self.assertEqual(MAIN.control("faults", [])[0], 200)
        for path in paths:
            with self.subTest(path=path, after="cleared"):
                self.assertEqual(MAIN.get(path).status, 200)

    def test_bad_rules_are_refused(self):
        MAIN.control("faults", [{"match": "/full/", "status": 403}])
        for rules in ([{"kind": "explode"}], [{"status": "500"}], [{"count": 0}], [{"delay": 5}],
                      [{"match": "^("}], [{"headers": ["x"]}], "rules"):
            with self.subTest(rules=rules):
                status, doc = MAIN.control("faults", rules)
                self.assertEqual(status, 400)
                self.assertIn("error", doc)
        self.assertEqual(MAIN.get(self.image).status, 403)  # the earlier rules stay


class RequestLogTest(ServiceTest):
    @classmethod
    def setUpClass(cls):
        cls.image = urlsplit(MAIN.json("/api/v1/search?sorting=views")[1]["data"][0]["path"]).path

    def test_log_holds_each_request_but_control_ones(self):
        MAIN.get("/api/v1/search?q=a%20b&page=2", headers={"X-API-Key": KEY, "X-Probe": "1"})
        MAIN.control("faults")
        MAIN.get(self.image)
        status, doc = MAIN.json("/api/v1/search", method="POST", body="q=cats&page=1",
                                headers={"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(doc["meta"]["query"], "cats")
        _, log = MAIN.control("log")
        self.assertEqual([(e["method"], e["url"], e["status"]) for e in log], [
            ("GET", "/api/v1/search?q=a%20b&page=2", 200),
            ("GET", self.image, 200),
            ("POST", "/api/v1/search", 200)])
        self.assertEqual(log[0]["headers"]["X-API-Key"], KEY)
        self.assertEqual(log[0]["headers"]["X-Probe"], "1")
        self.assertEqual(log[0]["headers"]["Host"], "127.0.0.1:%d" % MAIN.port)
        self.assertNotIn("body", log[0])
        self.assertEqual(log[2]["body"], "q=cats&page=1")
        MAIN.control("reset", {})
        self.assertEqual(MAIN.control("log"), (200, []))


class OtherServicesTest(unittest.TestCase):
    """Start-up options, the default rate limit and a clean stop."""

    def test_default_rate_limit(self):
        svc = Service("--seed", SEED)
        try:
            image = urlsplit(svc.json("/api/v1/search")[1]["data"][0]["path"]).path
            statuses = [svc.get("/api/v1/search?page=%d" % (i % 3 + 1)).status for i in range(44)]
            self.assertEqual(statuses, [200] * 44)
            refused = svc.get("/api/v1/collections/demo")
            self.assertEqual(refused.status, 429)
            self.assertTrue(1 <= int(refused.headers["Retry-After"]) <= 60)
            self.assertTrue(refused.headers["Content-Type"].startswith("text/html"))
            self.assertEqual(svc.get(image).status, 200)  # images are not counted
            svc.control("reset", {})
            self.assertEqual(svc.get("/api/v1/search").status, 200)
            # The same seed gives the same catalogue.
            self.assertEqual([w["id"] for w in svc.json("/api/v1/search?sorting=views")[1]["data"]],
                             [w["id"] for w in MAIN.json("/api/v1/search?sorting=views")[1]["data"]])
            with open(svc.port_file) as f:
                self.assertEqual(int(f.read()), svc.port)
        finally:
            self.assertEqual(svc.stop(), 0)

    def test_rate_limit_set_through_control(self):
        MAIN.control("reset", {})
        self.assertEqual(MAIN.control("config", {"rate_limit": 2})[0], 200)
        self.assertEqual([MAIN.get("/api/v1/search").status for _ in range(3)], [200, 200, 429])
        MAIN.control("reset", {})  # back to the start-up value: no limit
        self.assertEqual([MAIN.get("/api/v1/search").status for _ in range(3)], [200] * 3)

    def test_options(self):
        svc = Service("--seed", "8", "--https-paths", "--valid-key", "other-key", "--rate-limit", "0")
        try:
            doc = svc.json("/api/v1/search?sorting=views&purity=001&apikey=other-key")[1]
            self.assertGreater(doc["meta"]["total"], 0)
            self.assertTrue(all(w["path"].startswith("https://127.0.0.1:%d/full/" % svc.port) for w in doc["data"]))
            self.assertEqual(svc.get("/api/v1/search?apikey=" + KEY).status, 401)
            self.assertNotEqual([w["id"] for w in svc.json("/api/v1/search?sorting=views")[1]["data"]],
                                [w["id"] for w in MAIN.json("/api/v1/search?sorting=views")[1]["data"]])
        finally:
            self.assertEqual(svc.stop(), 0)


if __name__ == "__main__":
    unittest.main()
