#!/usr/bin/env python3
"""Stand-in for the Lumora service, for tests, the benchmark and the demo.

Serves the service's JSON API (search, a wallpaper, a user's collections and
their pages), the image files the answers point to, large streamed files for
the download benchmark, and a control API through which a test injects faults
and reads the log of the requests it caused.  Standard library only; see
tools/README.md for the CLI and the control API.
"""

import argparse
import copy
import hashlib
import json
import math
import os
import random
import re
import signal
import struct
import sys
import threading
import time
import zlib
from collections import deque
from datetime import datetime, timedelta
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, unquote_to_bytes, urlsplit

PER_PAGE = 24
DEFAULT_KEY = "testkey123"
DEFAULT_RATE_LIMIT = 45
RATE_WINDOW = 60.0
MIB = 1024 * 1024
MAX_BENCH_MIB = 2048

CATEGORIES = ("general", "anime", "people")
PURITIES = ("sfw", "sketchy", "nsfw")
SORTINGS = ("random", "date_added", "relevance", "views", "favorites", "toplist")

# The catalogue's own "now": toplist ranges are measured from here, not from
# the wall clock, so that answers do not drift from one run to the next.
REFERENCE_TIME = datetime(2026, 12, 1, 12, 0, 0)
TOP_RANGES = {"1d": 1, "3d": 3, "1w": 7, "1M": 30, "3M": 91, "6M": 182, "1y": 365}
DEFAULT_TOP_RANGE = "1M"

# ---------------------------------------------------------------------------
# Image encoders
# ---------------------------------------------------------------------------

_ZIGZAG = (
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63)

_LUMA_QUANT = (
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99)

_CHROMA_QUANT = (
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99) + (99,) * 32

_DCT = [[(math.sqrt(0.5) if u == 0 else 1.0) * 0.5 * math.cos((2 * x + 1) * u * math.pi / 16)
         for x in range(8)] for u in range(8)]


class _BitWriter:
    """Entropy-coded segment writer: MSB first, 0xFF stuffed with 0x00."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nbits = 0

    def put(self, value, length):
        self.acc = (self.acc << length) | (value & ((1 << length) - 1))
        self.nbits += length
        while self.nbits >= 8:
            self.nbits -= 8
            byte = (self.acc >> self.nbits) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.acc &= (1 << self.nbits) - 1

    def flush(self):
        if self.nbits:
            pad = 8 - self.nbits
            self.put((1 << pad) - 1, pad)  # padding bits are ones
        return bytes(self.out)


def _scaled_quant(table, quality=75):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


def _fdct(block):
    """2-D DCT-II of an 8x8 block given as 8 rows; returns 64 values, row-major."""
    rows = [[sum(r[x] * _DCT[u][x] for x in range(8)) for u in range(8)] for r in block]
    return [sum(_DCT[v][y] * rows[y][u] for y in range(8)) for v in range(8) for u in range(8)]


def _magnitude(value):
    size = abs(value).bit_length()
    return size, (value if value >= 0 else value + (1 << size) - 1)


def encode_jpeg(width, height, pixel):
    """Baseline JPEG, three components, no subsampling.

    Huffman tables are built per image from the symbols it uses (all codes of
    one length), which any baseline decoder accepts and keeps the encoder free
    of the long standard tables.
    """
    planes = ([], [], [])
    for y in range(height):
        rows = ([], [], [])
        for x in range(width):
            r, g, b = pixel(x, y)
            rows[0].append(0.299 * r + 0.587 * g + 0.114 * b)
            rows[1].append(-0.168736 * r - 0.331264 * g + 0.5 * b + 128)
            rows[2].append(0.5 * r - 0.418688 * g - 0.081312 * b + 128)
        for plane, row in zip(planes, rows):
            plane.append(row)
    quant = (_scaled_quant(_LUMA_QUANT), _scaled_quant(_CHROMA_QUANT))

    # First pass: the symbols and extra bits of every block, in scan order.
    tokens = []  # (is_ac, table, symbol, extra value, extra length)
    used = {(ac, t): set() for ac in (0, 1) for t in (0, 1)}
    pred = [0, 0, 0]
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            for comp in range(3):
                table = 0 if comp == 0 else 1
                plane = planes[comp]
                block = [[plane[min(by + y, height - 1)][min(bx + x, width - 1)] - 128
                          for x in range(8)] for y in range(8)]
                coef = _fdct(block)
                zz = [int(round(coef[n] / quant[table][n])) for n in _ZIGZAG]
                size, bits = _magnitude(zz[0] - pred[comp])
                pred[comp] = zz[0]
                tokens.append((0, table, size, bits, size))
                used[0, table].add(size)
                run = 0
                for value in zz[1:]:
                    if value == 0:
                        run += 1
                        continue
                    while run > 15:
                        tokens.append((1, table, 0xF0, 0, 0))
                        used[1, table].add(0xF0)
                        run -= 16
                    size, bits = _magnitude(value)
                    tokens.append((1, table, (run << 4) | size, bits, size))
                    used[1, table].add((run << 4) | size)
                    run = 0
                if run:
                    tokens.append((1, table, 0x00, 0, 0))
                    used[1, table].add(0x00)

    # Equal-length canonical codes; n < 2**length keeps the all-ones code unused.
    codes, dht = {}, bytearray()
    for ac, table in ((0, 0), (1, 0), (0, 1), (1, 1)):
        symbols = sorted(used[ac, table]) or [0]
        length = max(1, len(symbols).bit_length())
        counts = [0] * 16
        counts[length - 1] = len(symbols)
        dht += bytes([(ac << 4) | table] + counts + symbols)
        for code, symbol in enumerate(symbols):
            codes[ac, table, symbol] = (code, length)

    bits = _BitWriter()
    for ac, table, symbol, extra, extra_len in tokens:
        bits.put(*codes[ac, table, symbol])
        if extra_len:
            bits.put(extra, extra_len)
    scan = bits.flush()

    def segment(marker, payload):
        return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload

    dqt = bytearray()
    for table in (0, 1):
        dqt += bytes([table] + [quant[table][n] for n in _ZIGZAG])
    sof = struct.pack(">BHHB", 8, height, width, 3) + bytes([1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1])
    sos = bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0])
    return b"".join([
        b"\xff\xd8",
        segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"),
        segment(0xDB, bytes(dqt)),
        segment(0xC0, sof),
        segment(0xC4, bytes(dht)),
        segment(0xDA, sos),
        scan,
        b"\xff\xd9"])


def encode_png(width, height, pixel, gray=False):
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # filter type None
        for x in range(width):
            value = pixel(x, y)
            raw.extend((value,) if gray else value)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 0 if gray else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def build_images():
    """The few distinct files every wallpaper's "path" resolves to."""
    return {
        "image/jpeg": [
            encode_jpeg(64, 48, lambda x, y: (x * 4, y * 5, 128)),
            # Not a multiple of 8 in either direction: edge blocks are padded.
            encode_jpeg(44, 28, lambda x, y: (200, 60, 40) if (x + y) // 4 % 2 else (30, 90, 200)),
        ],
        "image/png": [
            encode_png(48, 32, lambda x, y: (x * 255 // 47, y * 255 // 31, (x ^ y) * 8 & 255)),
            encode_png(20, 12, lambda x, y: (x + y) * 10 & 255, gray=True),
        ],
    }


def bench_stream(mib):
    """Yields a file of exactly `mib` MiB: JPEG header, comment segments as
    filler, EOI.  Full segments are one shared object, so memory stays flat."""
    header = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    full = b"\xff\xfe\xff\xff" + bytes(0xFFFF - 2)
    yield header
    remaining = mib * MIB - len(header) - 2
    # For whole MiB up to MAX_BENCH_MIB the last piece is never 1-3 bytes,
    # so it always has room for its own segment header.
    while remaining > 0:
        take = min(remaining, len(full))
        yield full if take == len(full) else b"\xff\xfe" + struct.pack(">H", take - 2) + bytes(take - 4)
        remaining -= take
    yield b"\xff\xd9"


# ---------------------------------------------------------------------------
# Catalogue
# ---------------------------------------------------------------------------

RESOLUTIONS = (
    (1920, 1080, 8), (2560, 1440, 6), (3840, 2160, 5), (1366, 768, 2), (1600, 900, 2),
    (1920, 1200, 3), (2560, 1600, 2), (1680, 1050, 1), (1280, 1024, 1), (3440, 1440, 2),
    (2560, 1080, 1), (1080, 1920, 2), (1440, 2560, 1), (5120, 2880, 1))

TAGS = {
    "general": ("nature", "mountains", "forest", "ocean", "sunset", "city", "night", "space",
                "abstract", "minimalism", "cars", "architecture", "snow", "desert", "flowers",
                "cats", "dogs", "landscape", "café", "Москва"),
    "anime": ("anime", "anime girls", "manga", "mecha", "cyberpunk", "fantasy", "landscape",
              "original characters", "night"),
    "people": ("women", "men", "portrait", "model", "street", "fashion", "black and white",
               "musician"),
}

# (name, weight as an uploader)
USERS = (("demo", 20), ("alice", 20), ("kenji", 15), ("Zoë", 15), ("Дмитрий", 15),
         ("marta", 10), ("empty", 5))


class Wallpaper:
    __slots__ = ("id", "category", "purity", "width", "height", "views", "favorites",
                 "created", "tags", "uploader", "colors", "file_type", "image")


class Collection:
    __slots__ = ("id", "label", "views", "public", "items")

    def __init__(self, cid, label, views, public, items):
        self.id, self.label, self.views, self.public, self.items = cid, label, views, public, items


def _ratio_text(width, height):
    text = "%.2f" % (width / height)
    return text.rstrip("0").rstrip(".")


class Catalogue:
    """~300 wallpapers, the users and their collections, all derived from one seed."""

    def __init__(self, seed, images, size=300):
        rng = random.Random(seed)
        self.images = images
        alphabet = "abcdefghijklmnopqrstuvwxyz0123456789"
        res_choices = [r[:2] for r in RESOLUTIONS for _ in range(r[2])]
        user_choices = [u for u, weight in USERS for _ in range(weight)]
        self.items, self.by_id = [], {}
        while len(self.items) < size:
            i = len(self.items)
            first = rng.choice("0123456789" if i % 5 == 0 else alphabet)
            wid = first + "".join(rng.choice(alphabet) for _ in range(5))
            if wid in self.by_id:
                continue
            w = Wallpaper()
            w.id = wid
            w.category = rng.choices(CATEGORIES, (60, 25, 15))[0]
            w.purity = rng.choices(PURITIES, (70, 20, 10))[0]
            w.width, w.height = rng.choice(res_choices)
            w.views = rng.randint(40, 60000)
            w.favorites = w.views // rng.randint(15, 200)
            # Skewed towards recent uploads so that short toplist ranges hold some.
            age = timedelta(seconds=int(rng.random() ** 2 * 700 * 86400) + 60)
            w.created = REFERENCE_TIME - age
            vocabulary = TAGS[w.category]
            w.tags = rng.sample(vocabulary, rng.randint(2, min(4, len(vocabulary))))
            w.uploader = rng.choice(user_choices)
            w.colors = ["#%06x" % rng.randrange(0x1000000) for _ in range(rng.randint(3, 5))]
            w.file_type = "image/png" if rng.random() < 0.25 else "image/jpeg"
            w.image = rng.randrange(len(images[w.file_type]))
            self.items.append(w)
            self.by_id[wid] = w
        # Make sure the non-ASCII texts the tests and demo rely on always occur.
        for w, tag in ((self.items[5], "café"), (self.items[11], "Москва")):
            if tag not in w.tags:
                w.tags.append(tag)
        self.items[2].uploader, self.items[3].uploader = "Zoë", "Дмитрий"

        sfw = [w for w in self.items if w.purity == "sfw"]
        anime = [w for w in self.items if w.category == "anime"]
        views = lambda: rng.randint(10, 5000)  # noqa: E731
        self.users = {name.casefold(): (name, []) for name, _ in USERS}
        self.users["demo"][1].extend([
            Collection(15, "Default", views(), 1, rng.sample(sfw, 10)),
            Collection(27, "Nature", views(), 1, rng.sample(sfw, 3)),
            Collection(42, "Everything", views(), 1, rng.sample(self.items, 60)),
        ])
        self.users["alice"][1].append(Collection(70, "Anime", views(), 1, rng.sample(anime, 12)))
        self.users["zoë"][1].append(Collection(51, "Fleurs d'été", views(), 1, rng.sample(sfw, 4)))
        self.users["дмитрий"][1].append(Collection(64, "Пейзажи", views(), 1, rng.sample(self.items, 5)))
        # A user whose only collection is private: the list of public ones is empty.
        self.users["empty"][1].append(Collection(80, "Private", views(), 0, rng.sample(sfw, 2)))
        # Fewer images than any usual cache limit: a feed that can never fill its share.
        self.users["marta"][1].append(Collection(91, "Pair", views(), 1, rng.sample(sfw, 2)))

    def image_bytes(self, w):
        return self.images[w.file_type][w.image]


# ---------------------------------------------------------------------------
# Replies
# ---------------------------------------------------------------------------

def encode_json(doc):
    """The service's JSON dialect: ASCII only, and every "/" written as "\\/"."""
    return json.dumps(doc, ensure_ascii=True, separators=(",", ":")).replace("/", "\\/").encode("ascii")


def html_page(status, text=None):
    try:
        phrase = HTTPStatus(status).phrase
    except ValueError:
        phrase = "Error"
    body = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>\n<body><h1>%s</h1>\n<p>%s</p>\n"
            "</body></html>\n" % (status, phrase, phrase, text or phrase))
    return body.encode("utf-8")


class Reply:
    """One answer: status, headers and a body given as bytes or as a stream."""

    def __init__(self, status, body=b"", content_type=None, doc=None, stream=None, length=None):
        self.status = status
        self.headers = {}
        if content_type:
            self.headers["Content-Type"] = content_type
        self.doc = doc
        self.set_body(body, stream, length)
        self.delay = 0.0           # seconds before the status line
        self.chunk_delay = 0.0     # seconds between body chunks
        self.chunk_bytes = 16384
        self.send_limit = None     # send this many body bytes, then close
        self.claimed_length = None  # Content-Length to announce instead of the real one
        self.framing = None        # None: Content-Length; "close" or "chunked": none announced

    def set_body(self, body=b"", stream=None, length=None):
        self.body, self.stream = body, stream
        self.length = len(body) if stream is None else length

    def set_header(self, name, value):
        for existing in [k for k in self.headers if k.lower() == name.lower()]:
            del self.headers[existing]
        self.headers[name] = value

    def chunks(self):
        for piece in (self.stream() if self.stream else (self.body,)):
            if self.chunk_delay:
                for start in range(0, len(piece), self.chunk_bytes):
                    yield piece[start:start + self.chunk_bytes]
            else:
                yield piece

    @classmethod
    def json(cls, status, doc):
        return cls(status, encode_json(doc), "application/json", doc=doc)

    @classmethod
    def error(cls, status, path, message=None):
        """API errors are JSON; anything else (images, 429s) is an HTML page."""
        if path.startswith("/api/") and status != 429:
            return cls.json(status, {"error": message or HTTPStatus(status).phrase})
        return cls(status, html_page(status, message), "text/html; charset=UTF-8")

    @classmethod
    def too_many(cls, retry_after):
        reply = cls(429, html_page(429, "You have made too many requests. Please slow down."),
                    "text/html; charset=UTF-8")
        reply.set_header("Retry-After", str(retry_after))
        return reply


# ---------------------------------------------------------------------------
# Fault rules
# ---------------------------------------------------------------------------

FAULT_KINDS = ("status", "empty", "invalid_json", "wrong_types", "slow", "drop", "short_image", "html200", "image",
               "unsized")
FRAMINGS = ("close", "chunked")
_RULE_KEYS = {"match", "count", "kind", "status", "headers", "body", "delay_ms", "chunk_delay_ms",
              "chunk_bytes", "bytes", "missing", "set", "framing"}


class FaultRule:
    def __init__(self, rule_def):
        if not isinstance(rule_def, dict):
            raise ValueError("a rule must be an object")
        unknown = set(rule_def) - _RULE_KEYS
        if unknown:
            raise ValueError("unknown rule keys: %s" % ", ".join(sorted(unknown)))
        self.rule_def = rule_def
        self.match = rule_def.get("match") or ""
        if not isinstance(self.match, str):
            raise ValueError("match must be a string")
        # A leading "^" marks a regular expression; anything else is a prefix.
        self.regex = re.compile(self.match) if self.match.startswith("^") else None
        self.kind = rule_def.get("kind", "status")
        if self.kind not in FAULT_KINDS:
            raise ValueError("unknown kind %r" % self.kind)
        self.remaining = self._int("count", None, 1)
        self.status = self._int("status", None, 100, 599)
        self.delay_ms = self._int("delay_ms", 0, 0)
        self.chunk_delay_ms = self._int("chunk_delay_ms", 0, 0)
        self.chunk_bytes = self._int("chunk_bytes", 4096, 1)
        self.bytes = self._int("bytes", None, 0)
        self.missing = self._int("missing", 1024, 1)
        self.headers = rule_def.get("headers") or {}
        if not (isinstance(self.headers, dict) and all(isinstance(v, (str, int)) for v in self.headers.values())):
            raise ValueError("headers must map names to strings")
        self.body = rule_def.get("body")
        if self.body is not None and not isinstance(self.body, str):
            raise ValueError("body must be a string")
        self.set = rule_def.get("set")
        if self.set is not None and not isinstance(self.set, dict):
            raise ValueError("set must map dotted paths to values")
        self.framing = rule_def.get("framing", "close")
        if self.framing not in FRAMINGS:
            raise ValueError("framing must be one of %s" % ", ".join(FRAMINGS))

    def _int(self, key, default, low, high=None):
        value = self.rule_def.get(key, default)
        if value is None:
            return None
        if isinstance(value, bool) or not isinstance(value, int) or value < low or (high and value > high):
            raise ValueError("%s must be an integer >= %d" % (key, low))
        return value

    def matches(self, target):
        return bool(self.regex.search(target)) if self.regex else target.startswith(self.match)

    def describe(self):
        out = dict(self.rule_def)
        out["remaining"] = self.remaining
        return out


def _set_dotted(doc, dotted, value):
    keys = dotted.split(".")
    node = doc
    for key in keys[:-1]:
        node = node[int(key)] if isinstance(node, list) else node.setdefault(key, {})
    last = keys[-1]
    if isinstance(node, list):
        node[int(last)] = value
    else:
        node[last] = value


def _wrong_types(doc, overrides):
    doc = copy.deepcopy(doc) if isinstance(doc, dict) else {}
    if overrides:
        for dotted, value in overrides.items():
            _set_dotted(doc, dotted, value)
        return doc
    meta = doc.get("meta")
    if isinstance(meta, dict):
        meta["last_page"] = str(meta.get("last_page", 1))
        meta["total"] = str(meta.get("total", 0))
    doc["data"] = [] if isinstance(doc.get("data"), dict) else {}
    return doc


def _pad_body(reply, size):
    """The real body, then zero bytes up to `size` in all (streamed, so a
    body of any size costs no memory)."""
    first = reply.body if reply.stream is None else None
    inner = reply.stream

    def stream():
        sent = 0
        for piece in ((first,) if first is not None else inner()):
            sent += len(piece)
            yield piece
        block = b"\0" * 65536
        while sent < size:
            take = min(len(block), size - sent)
            sent += take
            yield block[:take]

    reply.set_body(stream=stream, length=size)


def apply_fault(rule, path, normal, jpeg=b""):
    """The reply a matched rule gives; `normal` builds the ordinary one."""
    kind = rule.kind
    if kind == "image":
        reply = Reply(rule.status or 200, jpeg, "image/jpeg")
    elif kind == "status":
        status = rule.status or 500
        reply = Reply.too_many(60) if status == 429 else Reply.error(status, path)
    elif kind == "html200":
        reply = Reply(rule.status or 200, html_page(200, "Please sign in to continue."),
                      "text/html; charset=UTF-8")
    else:
        reply = normal()
        if kind == "empty":
            reply.status = rule.status or 200
            reply.set_body(b"")
        elif kind == "invalid_json":
            reply.status = rule.status or 200
            text = encode_json(reply.doc) if reply.doc is not None else b'{"data":[{"id":"'
            reply.set_body(text[:len(text) // 2])  # a cut JSON text never parses
        elif kind == "wrong_types":
            reply.status = rule.status or 200
            reply.doc = _wrong_types(reply.doc, rule.set)
            reply.set_body(encode_json(reply.doc))
            reply.set_header("Content-Type", "application/json")
        else:
            if rule.status:
                reply.status = rule.status
            if kind == "slow":
                reply.delay = (rule.delay_ms if rule.delay_ms or rule.chunk_delay_ms else 1000) / 1000.0
                reply.chunk_delay = rule.chunk_delay_ms / 1000.0
                reply.chunk_bytes = rule.chunk_bytes
            elif kind == "drop":
                reply.send_limit = min(reply.length, rule.bytes if rule.bytes is not None else reply.length // 2)
            elif kind == "short_image":
                reply.claimed_length = reply.length + rule.missing
            elif kind == "unsized":
                reply.framing = rule.framing
                if rule.bytes is not None and rule.bytes > reply.length:
                    _pad_body(reply, rule.bytes)
    if rule.body is not None and kind in ("status", "html200", "invalid_json"):
        reply.set_body(rule.body.encode("utf-8"))
    for name, value in rule.headers.items():
        if name.lower() != "content-length":
            reply.set_header(name, str(value))
    return reply


# ---------------------------------------------------------------------------
# Service state and request handling
# ---------------------------------------------------------------------------

class NotUtf8(ValueError):
    """A request text whose bytes are not UTF-8: the service answers 400."""


def decode_text(raw):
    """Text from URL bytes. The service reads UTF-8 only: other bytes (a client
    that percent-encodes its ANSI text) are an error, never a guess."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise NotUtf8("not UTF-8: %r" % raw) from exc


def loose_text(raw):
    """For the request log only: shows what came, whatever the bytes."""
    return raw.decode("utf-8", errors="replace")


def parse_params(query):
    # http.server decodes the request line as latin-1: back to bytes first.
    pairs = parse_qsl(query, keep_blank_values=True, encoding="latin-1")
    return {k: decode_text(v.encode("latin-1")) for k, v in pairs}


def path_segment(segment):
    return decode_text(unquote_to_bytes(segment.encode("latin-1")))


def flags(text, default):
    if not text or not re.fullmatch(r"[01]{3}", text):
        text = default
    return text


class ServiceState:
    def __init__(self, catalogue, seed, rate_limit, valid_key, https_paths, log_path):
        self.catalogue = catalogue
        self.valid_key = valid_key
        self.https_paths = https_paths
        self.default_rate_limit = rate_limit
        self.rate_limit = rate_limit
        self.lock = threading.Lock()
        self.faults = []
        self.requests = []
        self.hits = deque()
        self.seed_rng = random.Random("seeds-%s" % seed)
        self.base = ""
        self.port = 0
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    def set_port(self, port):
        self.port = port
        self.base = "%s://127.0.0.1:%d" % ("https" if self.https_paths else "http", port)

    def write_log(self, line):
        if self.log_file:
            with self.lock:
                self.log_file.write("%s %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S"), line))
                self.log_file.flush()

    def record(self, method, url, headers, body):
        entry = {"method": method, "url": url, "headers": dict(headers.items()), "status": None}
        if body:
            entry["body"] = loose_text(body)
        with self.lock:
            self.requests.append(entry)
        return entry

    def take_fault(self, target):
        with self.lock:
            for rule in self.faults:
                if rule.remaining != 0 and rule.matches(target):
                    if rule.remaining is not None:
                        rule.remaining -= 1
                    return rule
        return None

    def rate_check(self):
        """None when the request may go on, else the seconds to wait."""
        now = time.monotonic()
        with self.lock:
            if self.rate_limit <= 0:
                return None
            while self.hits and self.hits[0] <= now - RATE_WINDOW:
                self.hits.popleft()
            if len(self.hits) >= self.rate_limit:
                return max(1, math.ceil(self.hits[0] + RATE_WINDOW - now))
            self.hits.append(now)
            return None

    def new_seed(self):
        with self.lock:
            return "".join(self.seed_rng.choice("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")
                           for _ in range(6))

    def reset(self):
        with self.lock:
            self.faults.clear()
            self.requests.clear()
            self.hits.clear()
            self.rate_limit = self.default_rate_limit


class Api:
    """The service's routes, answering from the catalogue."""

    def __init__(self, state):
        self.state = state
        self.cat = state.catalogue

    # -- rendering ---------------------------------------------------------

    def uploader(self, name):
        base = self.state.base
        slug = hashlib.sha1(name.encode("utf-8")).hexdigest()[:12]
        return {"username": name, "group": "User",
                "avatar": {size: "%s/avatars/%s/%s.png" % (base, size, slug)
                           for size in ("200px", "128px", "32px", "20px")}}

    def element(self, w, with_uploader=False, with_tags=False):
        base = self.state.base
        ext = "png" if w.file_type == "image/png" else "jpg"
        out = {"id": w.id, "url": "%s/w/%s" % (base, w.id), "short_url": "%s/%s" % (base, w.id)}
        if with_uploader:
            out["uploader"] = self.uploader(w.uploader)
        out.update({
            "views": w.views, "favorites": w.favorites, "source": "", "purity": w.purity,
            "category": w.category, "dimension_x": w.width, "dimension_y": w.height,
            "resolution": "%dx%d" % (w.width, w.height), "ratio": _ratio_text(w.width, w.height),
            "file_size": len(self.cat.image_bytes(w)), "file_type": w.file_type,
            "created_at": w.created.strftime("%Y-%m-%d %H:%M:%S"), "colors": list(w.colors),
            "path": "%s/full/%s/lumora-%s.%s" % (base, w.id[:2], w.id, ext),
            "thumbs": {size: "%s/thumbs/%s/%s/%s.jpg" % (base, short, w.id[:2], w.id)
                       for size, short in (("large", "lg"), ("original", "orig"), ("small", "sm"))},
        })
        if with_tags:
            out["tags"] = [{"id": int(hashlib.sha1(t.encode("utf-8")).hexdigest()[:6], 16), "name": t,
                            "alias": "", "category_id": 1 + CATEGORIES.index(w.category),
                            "category": w.category, "purity": "sfw"} for t in w.tags]
        return out

    def page(self, items, params, search=None, with_uploader=False):
        page = int(params["page"]) if params.get("page", "").isdigit() else 1
        page = max(1, page)
        total = len(items)
        last = max(1, math.ceil(total / PER_PAGE))
        shown = items[(page - 1) * PER_PAGE:page * PER_PAGE]
        # The service sends per_page as a string now and then; here on even pages.
        meta = {"current_page": page, "last_page": last,
                "per_page": str(PER_PAGE) if page % 2 == 0 else PER_PAGE, "total": total}
        if search is not None:
            meta["query"], meta["seed"] = search
        return Reply.json(200, {"data": [self.element(w, with_uploader) for w in shown], "meta": meta})

    # -- routes ------------------------------------------------------------

    def route(self, method, path, params, headers):
        if path.startswith("/api/"):
            return self.api(method, path, params, headers)
        if method not in ("GET", "HEAD"):
            return Reply.error(405, path)
        parts = path.split("/")
        if path.startswith("/full/") and len(parts) == 4:
            return self.full_image(parts[2], parts[3])
        if path.startswith("/thumbs/") and len(parts) == 5:
            return self.thumb(parts[4])
        match = re.fullmatch(r"/bench/(\d+)mb\.jpg", path)
        if match and 1 <= int(match.group(1)) <= MAX_BENCH_MIB:
            mib = int(match.group(1))
            return Reply(200, content_type="image/jpeg", stream=lambda: bench_stream(mib), length=mib * MIB)
        return Reply.error(404, path)

    def api(self, method, path, params, headers):
        if method not in ("GET", "HEAD", "POST"):
            return Reply.error(405, path)
        keys = [k for k in (params.get("apikey", ""), headers.get("X-API-Key", "")) if k]
        if any(k != self.state.valid_key for k in keys):
            return Reply.json(401, {"error": "Unauthorized"})
        authorized = bool(keys)
        parts = [path_segment(p) for p in path[len("/api/v1/"):].split("/")] if path.startswith("/api/v1/") else []
        if parts == ["search"]:
            return self.search(params, authorized)
        if len(parts) == 2 and parts[0] == "w":
            return self.wallpaper(parts[1], authorized)
        if len(parts) == 2 and parts[0] == "collections" and parts[1]:
            return self.collections(parts[1])
        if len(parts) == 3 and parts[0] == "collections" and parts[1]:
            return self.collection_page(parts[1], parts[2], params, authorized)
        return Reply.error(404, path)

    def allowed(self, purity_flags, authorized):
        return {p for p, on in zip(PURITIES, purity_flags) if on == "1" and (p != "nsfw" or authorized)}

    def search(self, params, authorized):
        purities = self.allowed(flags(params.get("purity"), "100"), authorized)
        categories = {c for c, on in zip(CATEGORIES, flags(params.get("categories"), "111")) if on == "1"}
        items = [w for w in self.cat.items if w.purity in purities and w.category in categories]

        query = params.get("q", "").strip()
        words = query.casefold().split()
        required = [t.lstrip("+") for t in words if not t.startswith(("-", "@")) and t.lstrip("+")]
        excluded = [t[1:] for t in words if t.startswith("-") and len(t) > 1]
        users = [t[1:] for t in words if t.startswith("@") and len(t) > 1]

        def hits(w, word):
            return any(word in tag.casefold() for tag in w.tags)

        items = [w for w in items
                 if all(hits(w, t) for t in required) and not any(hits(w, t) for t in excluded)
                 and all(w.uploader.casefold() == u for u in users)]

        atleast = re.fullmatch(r"(\d+)x(\d+)", params.get("atleast", ""))
        if atleast:
            min_w, min_h = int(atleast.group(1)), int(atleast.group(2))
            items = [w for w in items if w.width >= min_w and w.height >= min_h]
        ratios = [r for r in params.get("ratios", "").split(",") if r]
        if ratios:
            items = [w for w in items if any(self.ratio_matches(w, r) for r in ratios)]

        sorting = params.get("sorting", "date_added")
        if sorting not in SORTINGS:
            sorting = "date_added"
        seed = None
        newest_first = lambda w: (-w.created.timestamp(), w.id)  # noqa: E731
        if sorting == "random":
            seed = params.get("seed", "")
            if not re.fullmatch(r"[A-Za-z0-9]{6}", seed):
                seed = self.state.new_seed()
            # Hash of seed and id: the same seed gives the same order on every page.
            items.sort(key=lambda w: hashlib.sha1((seed + w.id).encode()).digest())
        elif sorting == "toplist":
            days = TOP_RANGES.get(params.get("topRange"), TOP_RANGES[DEFAULT_TOP_RANGE])
            since = REFERENCE_TIME - timedelta(days=days)
            items = [w for w in items if w.created >= since]
            items.sort(key=lambda w: (-w.favorites, w.id))
        elif sorting == "views":
            items.sort(key=lambda w: (-w.views, w.id))
        elif sorting == "favorites":
            items.sort(key=lambda w: (-w.favorites, w.id))
        elif sorting == "relevance" and required:
            items.sort(key=lambda w: (-sum(any(t in tag.casefold() for t in required) for tag in w.tags),)
                       + newest_first(w))
        else:
            items.sort(key=newest_first)
        return self.page(items, params, search=(query or None, seed))

    @staticmethod
    def ratio_matches(w, ratio):
        if ratio == "landscape":
            return w.width > w.height
        if ratio == "portrait":
            return w.height > w.width
        m = re.fullmatch(r"(\d+)x(\d+)", ratio)
        return bool(m) and int(m.group(2)) > 0 and abs(w.width / w.height - int(m.group(1)) / int(m.group(2))) < 0.01

    def wallpaper(self, wid, authorized):
        w = self.cat.by_id.get(wid)
        if w is None:
            return Reply.json(404, {"error": "Not Found"})
        if w.purity == "nsfw" and not authorized:
            return Reply.json(401, {"error": "Unauthorized"})
        return Reply.json(200, {"data": self.element(w, with_uploader=True, with_tags=True)})

    def collections(self, user):
        entry = self.cat.users.get(user.casefold())
        if entry is None:
            return Reply.json(404, {"error": "Not Found"})
        return Reply.json(200, {"data": [
            {"id": c.id, "label": c.label, "views": c.views, "public": c.public, "count": len(c.items)}
            for c in entry[1] if c.public]})

    def collection_page(self, user, cid, params, authorized):
        entry = self.cat.users.get(user.casefold())
        found = [c for c in entry[1] if str(c.id) == cid and c.public] if entry else []
        if not found:
            return Reply.json(404, {"error": "Not Found"})
        purities = self.allowed(flags(params.get("purity"), "100"), authorized)
        items = [w for w in found[0].items if w.purity in purities]
        return self.page(items, params, with_uploader=True)

    def full_image(self, prefix, name):
        m = re.fullmatch(r"lumora-([a-z0-9]{6})\.(jpg|png)", name)
        w = self.cat.by_id.get(m.group(1)) if m else None
        if w is None or prefix != w.id[:2] or (m.group(2) == "png") != (w.file_type == "image/png"):
            return Reply.error(404, "/full/")
        return Reply(200, self.cat.image_bytes(w), w.file_type)

    def thumb(self, name):
        m = re.fullmatch(r"([a-z0-9]{6})\.jpg", name)
        if not m or m.group(1) not in self.cat.by_id:
            return Reply.error(404, "/thumbs/")
        return Reply(200, min(self.cat.images["image/jpeg"], key=len), "image/jpeg")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "LumoraStandIn/1.0"

    def version_string(self):
        return self.server_version

    def do_GET(self):
        self.handle_any("GET")

    def do_HEAD(self):
        self.handle_any("HEAD")

    def do_POST(self):
        self.handle_any("POST")

    def do_PUT(self):
        self.handle_any("PUT")

    def do_DELETE(self):
        self.handle_any("DELETE")

    def log_message(self, fmt, *args):
        self.server.state.write_log("%s %s" % (self.client_address[0], fmt % args))

    def log_request(self, code="-", size="-"):
        pass  # one line per request is written by handle_any

    def read_body(self):
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True  # not expected from our clients; don't reuse the stream
            return b""
        length = self.headers.get("Content-Length", "")
        return self.rfile.read(int(length)) if length.isdigit() and int(length) > 0 else b""

    def handle_any(self, method):
        state = self.server.state
        body = self.read_body()
        split = urlsplit(self.path)
        if split.path.startswith("/_control/"):
            return self.send(self.control(method, split.path, split.query, body), method == "HEAD")
        entry = state.record(method, self.path, self.headers, body)
        try:
            params = parse_params(split.query)
            if method == "POST" and body:
                params.update(self.body_params(body))
            undecodable = None
        except NotUtf8 as exc:
            params, undecodable = {}, exc

        def normal():
            if undecodable is not None and split.path.startswith("/api/"):
                return Reply.json(400, {"error": "Bad Request: the query is not UTF-8"})
            try:
                return self.server.api.route(method, split.path, params, self.headers)
            except NotUtf8:
                return Reply.json(400, {"error": "Bad Request: the path is not UTF-8"})
        rule = state.take_fault(self.path)
        try:
            if rule is not None:
                reply = apply_fault(rule, split.path, normal, self.server.api.cat.images["image/jpeg"][0])
            else:
                retry = state.rate_check() if split.path.startswith("/api/") else None
                reply = Reply.too_many(retry) if retry else normal()
        except Exception as exc:  # a fault in the stand-in itself: say so loudly
            import traceback
            traceback.print_exc(file=sys.stderr)
            reply = Reply.error(500, split.path, "stand-in error: %s" % exc)
        entry["status"] = reply.status
        state.write_log("%s %s -> %d%s" % (method, self.path, reply.status,
                                           " (fault %s)" % rule.kind if rule else ""))
        self.send(reply, method == "HEAD")

    def body_params(self, body):
        if "json" in self.headers.get("Content-Type", ""):
            try:
                doc = json.loads(body.decode("utf-8", errors="replace"))
            except ValueError:
                return {}
            return {str(k): str(v) for k, v in doc.items()} if isinstance(doc, dict) else {}
        return parse_params(body.decode("latin-1"))

    def send(self, reply, head_only=False):
        try:
            if reply.delay:
                time.sleep(reply.delay)
            self.send_response(reply.status)
            for name, value in reply.headers.items():
                self.send_header(name, value)
            announced = reply.claimed_length if reply.claimed_length is not None else reply.length
            chunked = reply.framing == "chunked"
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            elif reply.framing is None:
                self.send_header("Content-Length", str(announced))
            # With no length at all the end of the connection ends the body.
            # One request per connection: a client never meets a connection
            # this server has already dropped (after a fault) when it reuses one.
            self.send_header("Connection", "close")
            self.close_connection = True
            self.end_headers()
            if head_only:
                return
            sent, limit = 0, reply.send_limit
            for piece in reply.chunks():
                if limit is not None:
                    piece = piece[:limit - sent]
                if piece:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
                    sent += len(piece)
                if limit is not None and sent >= limit:
                    break
                if reply.chunk_delay:
                    time.sleep(reply.chunk_delay)
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
            if sent < announced:
                self.close_connection = True  # the client must see the short body end
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            self.close_connection = True

    # -- control API -------------------------------------------------------

    def control(self, method, path, query, body):
        state = self.server.state
        name = path[len("/_control/"):]
        try:
            doc = json.loads(body.decode("utf-8")) if body else None
        except ValueError:
            return Reply(400, json.dumps({"error": "body is not JSON"}).encode(), "application/json")
        if method == "GET" and name == "log":
            with state.lock:
                entries = [dict(e) for e in state.requests]
            return Reply(200, json.dumps(entries, ensure_ascii=False).encode("utf-8"), "application/json")
        if method == "GET" and name == "faults":
            with state.lock:
                rules = [r.describe() for r in state.faults]
            return Reply(200, json.dumps(rules).encode("utf-8"), "application/json")
        if method == "POST" and name == "faults":
            specs = doc if isinstance(doc, list) else [doc] if isinstance(doc, dict) else None
            try:
                if specs is None:
                    raise ValueError("expected a JSON list of rules")
                rules = [FaultRule(s) for s in specs]
            except (ValueError, re.error) as exc:
                return Reply(400, json.dumps({"error": str(exc)}).encode("utf-8"), "application/json")
            with state.lock:
                if "append=1" not in query.split("&"):
                    state.faults.clear()
                state.faults.extend(rules)
                count = len(state.faults)
            return Reply(200, json.dumps({"ok": True, "rules": count}).encode(), "application/json")
        if method == "POST" and name == "reset":
            state.reset()
            return Reply(200, b'{"ok": true}', "application/json")
        if method == "POST" and name == "config":
            limit = doc.get("rate_limit") if isinstance(doc, dict) and set(doc) == {"rate_limit"} else None
            if isinstance(limit, bool) or not isinstance(limit, int) or limit < 0:
                return Reply(400, b'{"error": "expected {\\"rate_limit\\": N}"}', "application/json")
            with state.lock:
                state.rate_limit = limit
                state.hits.clear()
            return Reply(200, b'{"ok": true}', "application/json")
        if method == "GET" and name == "health":
            return Reply(200, json.dumps({"ok": True, "port": state.port}).encode(), "application/json")
        return Reply(404, b'{"error": "unknown control request"}', "application/json")


class LumoraServer(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return  # a client that went away is the normal life of a test server
        super().handle_error(request, client_address)


# ---------------------------------------------------------------------------
# Entry point
# ---------------------------------------------------------------------------

def parse_args(argv):
    p = argparse.ArgumentParser(description="Stand-in Lumora service on 127.0.0.1.")
    p.add_argument("--port", type=int, default=0, help="port to listen on (0 = any free port)")
    p.add_argument("--port-file", help="write the port number to this file once listening")
    p.add_argument("--seed", type=int, default=1, help="seed of the generated catalogue")
    p.add_argument("--rate-limit", type=int, default=DEFAULT_RATE_LIMIT,
                   help="API requests allowed per minute (0 = no limit)")
    p.add_argument("--valid-key", default=DEFAULT_KEY, help="the API key that unlocks nsfw results")
    p.add_argument("--log", help="append one line per request to this file")
    p.add_argument("--https-paths", action="store_true",
                   help='write https:// into "path" and other URLs (for parse-only tests)')
    return p.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    catalogue = Catalogue(args.seed, build_images())
    state = ServiceState(catalogue, args.seed, args.rate_limit, args.valid_key, args.https_paths, args.log)
    try:
        server = LumoraServer(("127.0.0.1", args.port), Handler)
    except OSError as exc:
        print("lumora_service: cannot listen on 127.0.0.1:%d: %s" % (args.port, exc), file=sys.stderr)
        return 2
    server.state = state
    server.api = Api(state)
    port = server.server_address[1]
    state.set_port(port)
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)  # readers never see a half-written file

    def stop(signum, frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    state.write_log("listening on port %d (seed %d)" % (port, args.seed))
    print("LISTENING http://127.0.0.1:%d" % port, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        state.write_log("stopped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
