#!/usr/bin/env python3
"""Two stand-in hosts (a slideshow and a screensaver) on one image folder, one feed, a small cache.

They start and stop in a mix, overlapping so that each in turn waits for the other, and the folder's
owner is killed hard once while the other waits for it. Afterwards one clean run on the folder, as the
next start of either host would make. Then: every image file in the folder is in the cache list, every
record has its file, no temporary file is left, the journal is folded in, and the cache is within its
limit. Both hosts must have downloaded into the folder, and one must have waited for the other and then
gone on with the folder (else the mix proved nothing).

Run by CTest with the stand-in service fixture:
  test_two_hosts_e2e.py --host VDTHOST --module MODULE [--wine] [--keep]
The service URL is read from $LUMORA_TEST_SERVICE_DIR/url.
"""
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import Host, arguments, control, finish, plugin_lines, read_list, service_url, write_settings  # noqa: E402

MAX_LOCAL = 4
STATE_FILES = ("vdt_vd_files.lst", "vdt_vd_paging.lst", "vdt_vd_files.jnl", "vdt_vd_files.lck")
WAITS = "is in use by another host"
GOES_ON = "is free again, this host goes on with it"
ADDED = "m_lclfiles Add: "


class Pair:
    def __init__(self, args, root):
        self.host = Host(args.host, args.module, wine=args.wine)
        self.folder = os.path.join(root, "images")
        os.mkdir(self.folder)
        # Each host its own settings file (a host may write its own), the same folder and feed.
        self.inis = []
        for kind in (0, 1):
            ini = os.path.join(root, "host%d.ini" % kind)
            write_settings(ini, self.host.path(self.folder), [{"Type": 0, "Purity": "110", "Sorting": 1}],
                           max_local=MAX_LOCAL)
            self.inis.append(ini)
        self.logs = {0: [], 1: []}  # the module's lines of every run, per host kind

    def start(self, kind, seconds):
        proc = self.host.start(self.inis[kind], "--host-kind", kind, "run", "--seconds", seconds,
                               "--show-every", "0.3", env=dict(os.environ, LUMORA_SERVICE_URL=service_url()))
        proc.kind = kind
        return proc

    def finish(self, proc, killed=False):
        out = finish(proc, 120)
        self.logs[proc.kind].append(out)
        if not killed and proc.returncode != 0:
            raise AssertionError("host %d ended with %d:\n%s" % (proc.kind, proc.returncode, out[-3000:]))
        return out

    def lines(self, kind):
        return [l for out in self.logs[kind] for l in plugin_lines(out)]

    def problems(self):
        records = [self.host.local(path) for _, path, _ in read_list(self.folder)]
        images, temps = set(), []
        for root, _, files in os.walk(self.folder):
            for name in files:
                p = os.path.join(root, name)
                if name.endswith(".__t"):
                    temps.append(p)
                elif root == self.folder and (name in STATE_FILES or name.startswith("vdt_vd_files.bad")):
                    continue
                elif not name.endswith(".vprop"):
                    images.add(p)
        out = ["orphan (not listed): " + p for p in sorted(images - set(records))]
        out += ["record without its file: " + p for p in sorted(set(records) - images)]
        out += ["listed twice: " + p for p in sorted({p for p in records if records.count(p) > 1})]
        out += ["temporary file left: " + p for p in temps]
        if len(records) > MAX_LOCAL:
            out.append("cache over its limit: %d records, MaxLocal %d" % (len(records), MAX_LOCAL))
        if os.path.exists(os.path.join(self.folder, "vdt_vd_files.jnl")):
            out.append("journal not folded in after a clean stop")
        return out, images


def main():
    args, _, _ = arguments(__doc__)
    # Under wine a host needs a second or two before its first download.
    unit = 2.0 if args.wine else 1.0

    control("POST", "reset", {})
    root = tempfile.mkdtemp(prefix="lumora_two_hosts_")
    pair = Pair(args, root)
    t0 = time.monotonic()
    failures = []
    try:
        def at(t):
            time.sleep(max(0.0, t0 + t * unit - time.monotonic()))

        # 0: the slideshow has the folder; the screensaver comes and waits.
        a = pair.start(0, 6 * unit)
        at(2)
        b = pair.start(1, 30 * unit)
        # ~6: the slideshow stops, the screensaver goes on with the folder.
        pair.finish(a)
        at(9)
        # The slideshow again: it waits. The owner is killed hard while it does.
        a = pair.start(0, 12 * unit)
        at(12)
        b.kill()
        pair.finish(b, killed=True)
        # The slideshow goes on with the folder; the screensaver comes and waits again.
        at(15)
        b = pair.start(1, 8 * unit)
        pair.finish(a)
        pair.finish(b)
        # The next start of either host, alone: it folds in what the killed one left.
        pair.finish(pair.start(0, 3 * unit))
    except AssertionError as e:
        failures.append(str(e))

    images = set()
    try:
        problems, images = pair.problems()
        failures += problems
    except (OSError, AssertionError, ValueError, IndexError) as e:
        failures.append("list unreadable: %s" % e)
    for kind in (0, 1):
        lines = pair.lines(kind)
        if not any(l.startswith(ADDED) for l in lines):
            failures.append("host %d downloaded nothing" % kind)
        if not any(WAITS in l for l in lines):
            failures.append("host %d never waited for the other" % kind)
        if not any(GOES_ON in l for l in lines):
            failures.append("host %d never went on with the folder after waiting" % kind)

    print("two hosts: %d images in the folder at the end, %d downloads by the slideshow, %d by the screensaver, "
          "%.0f s" % (len(images), sum(l.startswith(ADDED) for l in pair.lines(0)),
                      sum(l.startswith(ADDED) for l in pair.lines(1)), time.monotonic() - t0))
    if args.keep or failures:
        # Every run's output beside the folder, for the story of a failure.
        for kind in (0, 1):
            for n, out in enumerate(pair.logs[kind]):
                with open(os.path.join(root, "host%d_run%d.log" % (kind, n)), "w") as f:
                    f.write(out)
        print("folder kept:", root)
    else:
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("FAILED:", f)
    if failures:
        for kind in (0, 1):
            print("--- host %d, last run ---\n%s" % (kind, pair.logs[kind][-1][-4000:] if pair.logs[kind] else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
