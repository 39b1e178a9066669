"""What the Python tests that drive the real module through the stand-in host
share: the host command (under wine for the Windows build), paths as the
module sees them, the stand-in service's control API, the settings file and
the cache list on disk.

A test script adds this folder to sys.path and imports it:
  sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
"""
import argparse
import json
import os
import subprocess
import tempfile
import urllib.request

PLUGIN_PREFIX = "[Lumora Plugin] "
IMAGE_EXTS = (".jpg", ".jpeg", ".png", ".gif", ".bmp")
LIST_HEADER = "[Veduta Lumora List v3]"


def arguments(description=None, extra=None):
    """The one command line of every Python test that drives the module:
    --host VDTHOST --module MODULE [--wine] [--keep], then the test's own
    options (extra(parser) adds them). What the parser does not know goes to
    unittest (a test name, -k PATTERN). Returns (args, host, unittest_argv)."""
    p = argparse.ArgumentParser(description=description,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--host", required=True, help="the stand-in host (vdthost, or vdthost.exe)")
    p.add_argument("--module", required=True, help="the module it loads")
    p.add_argument("--wine", action="store_true", help="run the host under wine (LUMORA_WINE)")
    p.add_argument("--keep", action="store_true", help="keep the test folders")
    if extra:
        extra(p)
    args, rest = p.parse_known_args()
    import sys
    return args, Host(args.host, args.module, wine=args.wine), [sys.argv[0]] + rest


class Host:
    """vdthost with the module. wine: None decides by the host's name (a .exe
    runs under wine), True runs the wine of the test environment (LUMORA_WINE,
    set from scripts/winenv.sh), a text names the wine to run."""

    def __init__(self, vdthost, module, wine=None):
        self.vdthost = vdthost
        self.module = module
        if wine is None:
            wine = vdthost.lower().endswith(".exe")
        if wine is True:
            wine = os.environ.get("LUMORA_WINE")
            assert wine, "LUMORA_WINE names no wine: run the test through CTest or source scripts/winenv.sh"
        self.wine_cmd = wine or None

    @property
    def wine(self):
        return self.wine_cmd is not None

    def path(self, path):
        """The path as the module sees it: wine maps the Unix root to drive Z:."""
        path = os.path.abspath(path)
        return "Z:" + path.replace("/", "\\") if self.wine else path

    def local(self, path):
        """A path from the module's files or log, as a path of this machine."""
        if self.wine:
            assert path[:2].upper() == "Z:", path
            return path[2:].replace("\\", "/")
        return path

    def command(self, ini, *args, module=None):
        """The command line; module=False leaves the module out, ini=None the settings."""
        cmd = ([self.wine_cmd] if self.wine else []) + [self.vdthost]
        if module is not False:
            cmd += ["--module", module or self.path(self.module)]
        if ini is not None:
            cmd += ["--settings", self.path(ini)]
        return cmd + [str(a) for a in args]

    def run(self, ini, *args, env=None, timeout=180, module=None):
        """Runs the host to its end: (exit code, output text). The output goes
        through a file, not a pipe: a wine server started by the call inherits
        the handles and would hold a pipe open for seconds after the host ends."""
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(self.command(ini, *args, module=module), env=env, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout)
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", errors="replace")

    def start(self, ini, *args, env=None):
        """Starts the host; its output collects in proc.output (a file): see finish()."""
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen(self.command(ini, *args), env=env, stdout=out, stderr=subprocess.STDOUT)
        proc.output = out
        return proc


def finish(proc, timeout):
    """Waits for a started host and returns its output text."""
    proc.wait(timeout=timeout)
    proc.output.seek(0)
    text = proc.output.read().decode("utf-8", errors="replace")
    proc.output.close()
    return text


def plugin_lines(out):
    """The module's own log lines in the host's output, without their prefix."""
    return [l[len(PLUGIN_PREFIX):].rstrip("\r") for l in out.splitlines() if l.startswith(PLUGIN_PREFIX)]


def service_url():
    """The running stand-in service of this test run."""
    with open(os.path.join(os.environ["LUMORA_TEST_SERVICE_DIR"], "url")) as f:
        return f.read().strip()


def call(path, body=None, method=None, url=None):
    """A request to the stand-in service (its API or its control API): the
    answer's JSON. With a body, or to a reset, it is a POST."""
    data = json.dumps(body).encode() if body is not None else None
    if method is None:
        method = "POST" if data is not None or path.endswith("reset") else "GET"
    req = urllib.request.Request((url or service_url()) + path, data=data, method=method,
                                 headers={"Content-Type": "application/json"} if data else {})
    with urllib.request.urlopen(req, timeout=10) as answer:
        return json.loads(answer.read().decode("utf-8") or "null")


def control(method, name, body=None, url=None):
    """A call of the stand-in service's control API: the answer's JSON."""
    return call("/_control/" + name, body, method, url)


def write_settings(ini, folder, feeds, max_local=10, vprop=0, encoding="utf-8", extra=()):
    """The host's settings file: the module's section with its image folder
    (as the module sees it) and the feeds (dicts of setting keys)."""
    lines = ["[LumoraPlugIn]", "Enabled=1", "ImgFolder=" + folder, "MaxLocal=%d" % max_local,
             "VpropTitle=%d" % vprop, "VpropDescr=%d" % vprop, "nFeeds=%d" % len(feeds)]
    for i, feed in enumerate(feeds):
        lines += ["Feed%d_%s=%s" % (i, k, v) for k, v in feed.items()]
    lines += list(extra)
    with open(ini, "w", encoding=encoding, newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def read_list(folder):
    """The records of the cache list file: (id, path, feed) tuples, paths as the module wrote them."""
    with open(os.path.join(folder, "vdt_vd_files.lst"), "rb") as f:
        lines = f.read().decode("latin-1").split("\n")
    lines = [l[:-1] if l.endswith("\r") else l for l in lines]
    if lines[0] != LIST_HEADER:
        raise AssertionError("list header: %r" % lines[0])
    count = int(lines[1])
    return [(lines[4 + 3 * k], lines[5 + 3 * k], int(lines[6 + 3 * k])) for k in range(count)]


def image_files(folder):
    """The image files below the folder (the purity folders included), sorted."""
    found = []
    for root, _, files in os.walk(folder):
        found += [os.path.join(root, n) for n in files if n.lower().endswith(IMAGE_EXTS)]
    return sorted(found)
