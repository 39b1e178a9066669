#!/usr/bin/env python3
"""The stand-in host is killed (SIGKILL) at many points of a run and run again on the same folder.

After each kill and a clean run that follows it: every image file in the image folder and its purity
folders is in the cache list, every record's file exists, no "__t" file is left and the journal has
been folded into the list. Prints the kill points tried and survived.

Run by CTest with the stand-in service fixture:
  test_host_kill.py --host VDTHOST --module MODULE [--wine] [--points N]
The service URL is read from $LUMORA_TEST_SERVICE_DIR/url.
"""
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import Host, arguments, control, finish, read_list, service_url, write_settings  # noqa: E402

# The state files beside the images; the lock file marks the folder's one
# owner and stays after a crash (the system lets go of the lock itself).
STATE_FILES = ("vdt_vd_files.lst", "vdt_vd_paging.lst", "vdt_vd_files.jnl", "vdt_vd_files.lck")


class Run:
    def __init__(self, args, folder):
        self.host = Host(args.host, args.module, wine=args.wine)
        self.folder = folder
        self.ini = os.path.join(os.path.dirname(folder), "host.ini")
        write_settings(self.ini, self.host.path(folder),
                       [{"Type": 0, "Purity": "110", "Sorting": 1},
                        {"Type": 1, "Username": "demo", "CollId": "42", "Purity": "110"}], max_local=4, vprop=1)

    def start(self, seconds):
        return self.host.start(self.ini, "run", "--seconds", seconds, "--show-every", "0.4",
                               env=dict(os.environ, LUMORA_SERVICE_URL=service_url()))

    def read_list(self):
        """The records of the cache list file: a list of paths (as this machine sees them)."""
        return [self.host.local(path) for _, path, _ in read_list(self.folder)]

    def disk(self):
        images, temps = set(), []
        for name in os.listdir(self.folder):
            path = os.path.join(self.folder, name)
            if os.path.isdir(path):
                for inner in os.listdir(path):
                    p = os.path.join(path, inner)
                    if inner.endswith(".__t"):
                        temps.append(p)
                    elif not inner.endswith(".vprop"):
                        images.add(p)
            elif name.endswith(".__t"):
                temps.append(path)
            elif name not in STATE_FILES and not name.startswith("vdt_vd_files.bad") and not name.endswith(".vprop"):
                images.add(path)
        return images, temps

    def problems(self):
        records = set(self.read_list())
        images, temps = self.disk()
        out = ["orphan (not listed): " + p for p in sorted(images - records)]
        out += ["ghost (listed, missing): " + p for p in sorted(records - images)]
        out += ["temporary file left: " + p for p in temps]
        if os.path.exists(os.path.join(self.folder, "vdt_vd_files.jnl")):
            out.append("journal not folded in after a clean stop")
        return out


def main():
    args, _, _ = arguments(__doc__, lambda p: p.add_argument(
        "--points", type=int, default=0, help="kill points (default: 8 natively, 4 under wine)"))
    points = args.points or (4 if args.wine else 8)
    # Under wine the module needs about a second before its first download.
    first, last = (1.5, 7.0) if args.wine else (0.3, 5.0)
    step = (last - first) / max(points - 1, 1)

    root = tempfile.mkdtemp(prefix="lumora_kill_")
    folder = os.path.join(root, "images")
    os.mkdir(folder)
    run = Run(args, folder)
    control("POST", "reset", {})
    tried = survived = 0
    failures = []
    for k in range(points):
        when = first + k * step
        proc = run.start(30)
        time.sleep(when)
        proc.kill()
        out = finish(proc, 60)
        tried += 1
        # Start again on the same folder; a clean stop writes the list.
        again = run.start(2.5 if not args.wine else 4)
        log = finish(again, 120)
        try:
            problems = run.problems()
        except (OSError, AssertionError, ValueError, IndexError) as e:
            problems = ["list unreadable: %s" % e]
        if again.returncode != 0:
            problems.append("the second run ended with %d" % again.returncode)
        if problems:
            failures.append("kill after %.2f s:\n  %s\n--- killed run ---\n%s\n--- next run ---\n%s" % (
                when, "\n  ".join(problems), out[-3000:], log[-3000:]))
        else:
            survived += 1
    images, _ = run.disk()
    print("kill points tried: %d, survived: %d (%d images in the folder at the end)" % (tried, survived, len(images)))
    if args.keep or failures:
        print("folder kept:", root)
    else:
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print(f)
    return 0 if not failures and images else 1


if __name__ == "__main__":
    sys.exit(main())
