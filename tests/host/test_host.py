#!/usr/bin/env python3
"""Host-contract tests: the real module, loaded by the stand-in host vdthost.

Run by CTest with --host and --module (and --wine on the Windows build, where
wine runs vdthost.exe and the module gets its Windows-visible path)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments  # noqa: E402

ARGS = None
HOST = None

SETTINGS_KEYS = ["Enabled", "ImgFolder", "VpropTitle", "VpropDescr", "MaxLocal", "nFeeds"]
FEED_FIELDS = ["Type", "Flg", "Query", "Categories", "Purity", "Sorting", "TopRange", "Atleast", "Ratios",
               "Username", "CollId", "CollName"]


def host_path(path):
    return HOST.path(path)


def read_ini(path):
    """[(section, key, value)] in file order, values as the profile API reads them."""
    entries, section = [], None
    with open(path, "r", encoding="latin-1", newline="") as f:
        for raw in f.read().splitlines():
            line = raw.strip()
            if not line or line[0] in ";#":
                continue
            if line.startswith("[") and "]" in line:
                section = line[1:line.index("]")].strip()
                continue
            if "=" in line:
                key, value = line.split("=", 1)
                value = value.strip()
                if len(value) >= 2 and value[0] == value[-1] == '"':
                    value = value[1:-1]
                entries.append((section, key.strip(), value))
    return entries


def keys_of(entries, section):
    return [k for s, k, _ in entries if s == section]


class HostTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vdthost-test-")
        self.ini = os.path.join(self.dir, "host.ini")
        self.env = dict(os.environ)
        # The native registry stand-in must not touch the user's own file.
        self.env["LUMORA_REGISTRY_FILE"] = os.path.join(self.dir, "registry.ini")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def vdthost(self, *args, module=None, settings=None, timeout=120):
        cmd = HOST.command(None if settings is False else settings or self.ini, *args, module=module)
        # Files, not pipes: a wine server started by this call inherits the
        # handles and would hold a pipe open for seconds after the host ends.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.run(cmd, stdout=out, stderr=err, env=self.env, timeout=timeout)
            out.seek(0)
            err.seek(0)
            text = out.read().decode("latin-1").replace("\r\n", "\n")
            return p.returncode, text.splitlines(), err.read().decode("latin-1")

    def write_ini(self, text):
        with open(self.ini, "w", newline="\r\n") as f:
            f.write(text)

    def test_info_reports_query_and_name(self):
        rc, out, err = self.vdthost("info")
        self.assertEqual(rc, 0, err)
        self.assertIn("query: 256", out)
        self.assertIn("name: Lumora v1.0.0", out)

    def test_load_save_on_an_empty_store_writes_the_defaults_in_order(self):
        rc, out, err = self.vdthost("load-save")
        self.assertEqual(rc, 0, err)
        entries = read_ini(self.ini)
        self.assertEqual(keys_of(entries, "LumoraPlugIn"), SETTINGS_KEYS)
        values = {k: v for s, k, v in entries if s == "LumoraPlugIn"}
        self.assertEqual(values, {"Enabled": "0", "ImgFolder": "", "VpropTitle": "0", "VpropDescr": "0",
                                  "MaxLocal": "100", "nFeeds": "0"})
        self.assertEqual([(s, k, v) for s, k, v in entries if s != "LumoraPlugIn"], [("Settings", "RebuildList", "1")])
        # The settings go before the host's own section.
        self.assertEqual(entries[-1], ("Settings", "RebuildList", "1"))

    def test_two_feed_store_survives_a_load_save_round_trip(self):
        feeds = [
            {"Type": "0", "Flg": "65537", "Query": "red  cars", "Categories": "010", "Purity": "110", "Sorting": "5",
             "TopRange": "6", "Atleast": "2560x1440", "Ratios": "16x9,21x9", "Username": "", "CollId": "",
             "CollName": ""},
            {"Type": "1", "Flg": "0", "Query": "", "Categories": "111", "Purity": "100", "Sorting": "0",
             "TopRange": "3", "Atleast": "", "Ratios": "", "Username": "alice", "CollId": "42",
             "CollName": "Best of 2024"},
        ]
        lines = ["; kept as it is", "[Other]", "Keep=this", "", "[LumoraPlugIn]", "Enabled=1",
                 "ImgFolder=" + host_path(os.path.join(self.dir, "my pictures")), "VpropTitle=1", "VpropDescr=0",
                 "MaxLocal=250", "nFeeds=2"]
        for i, feed in enumerate(feeds):
            lines += ["Feed%d_%s=%s" % (i, field, feed[field]) for field in FEED_FIELDS]
        text = "\n".join(lines) + "\n"
        for mode in ("fill", "point"):
            with self.subTest(read_mode=mode):
                self.write_ini(text)
                before = read_ini(self.ini)
                rc, out, err = self.vdthost("--read-mode", mode, "load-save")
                self.assertEqual(rc, 0, err)
                after = read_ini(self.ini)
                self.assertEqual(after, before + [("Settings", "RebuildList", "1")])

    def test_negative_feed_count_loads_and_saves_as_no_feeds(self):
        self.write_ini("[LumoraPlugIn]\nEnabled=1\nnFeeds=-3\nFeed0_Query=ghost\n")
        rc, out, err = self.vdthost("load-save")
        self.assertEqual(rc, 0, err)
        values = {k: v for s, k, v in read_ini(self.ini) if s == "LumoraPlugIn"}
        self.assertEqual(values["nFeeds"], "0")
        self.assertEqual(values["Enabled"], "1")

    def test_run_while_disabled_only_logs_the_statistics(self):
        images = os.path.join(self.dir, "img")
        os.makedirs(os.path.join(images, "sfw"))
        open(os.path.join(images, "sfw", "a.jpg"), "wb").close()
        self.write_ini("[LumoraPlugIn]\nEnabled=0\nImgFolder=%s\nnFeeds=1\nFeed0_Query=x\n" % host_path(images))
        rc, out, err = self.vdthost("run", "--seconds", "2", "--show-every", "0.5")
        self.assertEqual(rc, 0, err)
        self.assertNotIn("notify 44", out)
        log = [l for l in out if l.startswith("[Lumora Plugin] ")]
        self.assertEqual(log, ["[Lumora Plugin] Api Calls: 0, Api Errors: 0",
                               "[Lumora Plugin] Downloads: 0, Errors: 0"])

    def test_run_reports_only_image_files_in_turn(self):
        images = os.path.join(self.dir, "img")
        for sub in ("sfw", "sketchy"):
            os.makedirs(os.path.join(images, sub))
        names = ["sfw/b.jpg", "sfw/a.PNG", "sketchy/c.webp", "sfw/b.vprop", "sfw/d.__t", "vdt_vd_files.lst",
                 "vdt_vd_paging.lst", "sketchy/notes.txt"]
        for n in names:
            open(os.path.join(images, n), "wb").close()
        expected = sorted(host_path(os.path.join(images, n)) for n in ("sfw/b.jpg", "sfw/a.PNG", "sketchy/c.webp"))
        # Enabled with a folder but no feeds: the host is notified, no worker starts.
        self.write_ini("[LumoraPlugIn]\nEnabled=1\nImgFolder=%s\nnFeeds=0\n" % host_path(images))
        rc, out, err = self.vdthost("run", "--seconds", "3", "--show-every", "0.25")
        self.assertEqual(rc, 0, err)
        self.assertIn("notify 44", out)
        shown = [l[len("show "):] for l in out if l.startswith("show ")]
        self.assertGreaterEqual(len(shown), 4, out)
        self.assertEqual(shown, [expected[i % len(expected)] for i in range(len(shown))])

    def test_usage_errors_and_a_missing_module(self):
        cases = [
            (("info",), False, None, 2),                              # no --module
            (("dance",), None, None, 2),                              # unknown command
            (("run",), None, None, 2),                                # run without --seconds
            (("--host-kind", "x", "info"), None, None, 2),
            (("info",), host_path(os.path.join(self.dir, "none.vpl")), None, 3),
        ]
        for args, module, settings, code in cases:
            with self.subTest(args=args):
                rc, out, err = self.vdthost(*args, module=module, settings=settings)
                self.assertEqual(rc, code, err)

    def test_module_exports_only_the_message_function(self):
        if ARGS.objdump:
            dump = subprocess.run([ARGS.objdump, "-p", ARGS.module], stdout=subprocess.PIPE,
                                  universal_newlines=True, check=True).stdout
            table = dump[dump.index("[Ordinal/Name Pointer] Table"):]
            exports = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", table, re.M)
            self.assertEqual(exports, ["_vdtPlugInMsgHandler@12"])
            self.assertRegex(dump, r"Export Address Table -- Ordinal Base 1")
            dlls = sorted(set(d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)))
            for dll in dlls:
                self.assertNotRegex(dll, r"libgcc|libstdc|libwinpthread|mingw", dll)
            self.assertIn("kernel32.dll", dlls)
        else:
            syms = subprocess.run(["nm", "-D", "--defined-only", ARGS.module], stdout=subprocess.PIPE,
                                  universal_newlines=True, check=True).stdout.split("\n")
            names = [line.split()[-1] for line in syms if len(line.split()) >= 3]
            self.assertEqual(names, ["vdtPlugInMsgHandler"])


def main():
    global ARGS, HOST
    ARGS, HOST, argv = arguments(__doc__, lambda p: p.add_argument(
        "--objdump", help="objdump of the Windows toolchain (Windows module)"))
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
