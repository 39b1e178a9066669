#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, made fresh from the stand-in service's
answers and the state-file layouts the engine writes (no binary blobs in the
repository).

usage: make_corpus.py OUTDIR
Writes OUTDIR/<target>/<name> for every target of fuzz/CMakeLists.txt.
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVICE = os.path.join(ROOT, "tools", "lumora_service.py")
KEY = "testkey123"


def put(outdir, target, name, data):
    folder = os.path.join(outdir, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def start_service(tmp):
    port_file = os.path.join(tmp, "port")
    proc = subprocess.Popen([sys.executable, SERVICE, "--port", "0", "--port-file", port_file, "--rate-limit", "0"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(port_file) and open(port_file).read().strip():
            break
        time.sleep(0.05)
    else:
        proc.kill()
        raise RuntimeError("the stand-in service did not start")
    return proc, "http://127.0.0.1:%s" % open(port_file).read().strip()


def fetch(base, path):
    try:
        with urllib.request.urlopen(base + path, timeout=10) as answer:
            return answer.read()
    except urllib.error.HTTPError as err:
        return err.read()


def answers(outdir, base):
    searches = [
        "/api/v1/search?categories=111&purity=100&sorting=date_added&page=1",
        "/api/v1/search?purity=111&sorting=random&page=2&apikey=" + KEY,
        "/api/v1/search?q=caf%C3%A9&sorting=toplist&topRange=1y&page=1",
        "/api/v1/search?q=%40Zo%C3%AB&purity=110&page=1",
        "/api/v1/search?page=99",
        "/api/v1/collections/demo/42?purity=111&page=1&apikey=" + KEY,
        "/api/v1/collections/%D0%94%D0%BC%D0%B8%D1%82%D1%80%D0%B8%D0%B9/64?purity=111&page=1&apikey=" + KEY,
    ]
    for i, path in enumerate(searches):
        put(outdir, "fuzz_search_answer", "service-%02d.json" % i, fetch(base, path))
    # Shapes the parser must survive: wrong types, nulls, a NUL in a name.
    extra = [
        '{"meta":{"last_page":"3","total":null,"seed":null},"data":{}}',
        '{"data":[{"id":"a\\u0000b","path":"http://x/full/ab/a\\u0000\\\\..\\\\..\\\\evil.jpg"}]}',
        '{"data":[null,{"id":7,"path":"/","purity":"..","file_type":"video/../x"}]}',
        '{"meta":{"seed":"\\ud83d\\ude00"},"data":[{"id":"%s","path":"a/b"}]}' % ("x" * 300),
        '// comment\n{"data":[{"id":"q","uploader":{"username":{"a":1}}}]}',
    ]
    for i, text in enumerate(extra):
        put(outdir, "fuzz_search_answer", "shape-%02d.json" % i, text)

    for i, user in enumerate(["demo", "alice", "Zo%C3%AB", "%D0%94%D0%BC%D0%B8%D1%82%D1%80%D0%B8%D0%B9", "empty",
                              "nobody"]):
        put(outdir, "fuzz_collections_answer", "service-%02d.json" % i, fetch(base, "/api/v1/collections/" + user))
    put(outdir, "fuzz_collections_answer", "shape-00.json", '{"data":[{"id":"x"},null,{"label":[1]},{"count":1e99}]}')

    # The local-name builder takes "path\ntype\npurity" from the answers.
    doc = json.loads(fetch(base, "/api/v1/search?purity=111&page=1&apikey=" + KEY))
    for i, el in enumerate(doc["data"][:8]):
        put(outdir, "fuzz_local_name", "service-%02d" % i,
            "%s\n%s\n%s" % (el["path"], el.get("file_type", ""), el.get("purity", "")))
    names = ["http://h/a\x00\\..\\..\\evil.jpg\nimage/jpeg\nsfw", "http://h/CON.jpg\nimage/png\n..",
             "http://h/x\nvideo/../../y\n../../z", "http://h/\n\n", "noslash\nimage/gif\nC:",
             "http://h/a:b?c.jpg\nIMAGE/JPEG\nnsfw", "http://h/trail. \nimage/bmp\nsfw. ",
             "\x00y\\\x90t.h/x\n\n\n\x00y",  # findings: a folder with a NUL,
             "hy\xff\xff.LxC:\nC\n\n\\"]  # a colon that is no drive
    for i, text in enumerate(names):
        put(outdir, "fuzz_local_name", "shape-%02d" % i, text)


def state_files(outdir):
    date = "12/9/2026 2:57:42 PM"
    recs = [("94x38z", "/img/sfw/lumora-94x38z.jpg", 0), ("k7q1", "/img/nsfw/i34315304500.png", 2),
            ("old", "/img/legacy.jpg", -1)]
    v1 = "[Veduta Lumora List]\r\n3\r\n0\r\n%s\r\n" % date + "".join("%s\r\n%s\r\n" % (i, p) for i, p, _ in recs)
    v2 = "[Veduta Lumora List v2]\r\n3\r\n1\r\n%s\r\n" % date + "".join(
        "%s\r\n%s\r\n%d\r\n" % r for r in recs) + "".join("b%d\r\n" % k for k in range(8))
    v3 = "[Veduta Lumora List v3]\r\n3\r\n0\r\n%s\r\n" % date + "".join("%s\r\n%s\r\n%d\r\n" % r for r in recs)
    for name, text in (("v1", v1), ("v2", v2), ("v3", v3), ("v3-lf", v3.replace("\r\n", "\n")),
                       ("v3-negative", v3.replace("\r\n3\r\n", "\r\n-1\r\n", 1)),
                       ("v3-outside", v3.replace("/img/legacy.jpg", "/img/../etc/passwd"))):
        # "/img" is the folder the fuzz target reads the list for.
        put(outdir, "fuzz_cache_list", name, text)
    journal = ("[Lumora Journal v1]\r\n+\t94x38z\t/img/sfw/a.jpg\t0\t00000000\r\n"
               "-\tk7q1\t/img/nsfw/b.png\t2\t00000000\r\n+\tcut\t/img/c")
    put(outdir, "fuzz_cache_list", "journal", journal)
    paging = "[Lumora Paging v1]\r\n3\r\nabc123\r\n2\r\n12\r\n\r\n1\r\n0\r\nzz9\r\n7\r\n7\r\n"
    put(outdir, "fuzz_paging", "three", paging)
    put(outdir, "fuzz_paging", "lf", paging.replace("\r\n", "\n"))
    put(outdir, "fuzz_paging", "more-than-feeds", paging.replace("\r\n3\r\n", "\r\n9\r\n", 1))


def encoders(outdir):
    for i, text in enumerate(["+cats -dogs", "16x9,16x10", "caf\xc3\xa9", "Zo\xeb", "a b&c=d#e%f",
                              "apikey=secret&x=1", "https://127.0.0.1:8443/api/v1/search?q=x#frag",
                              "http://[::1]:80/", "http://user@host:65535", "\x00\xff~._-"]):
        put(outdir, "fuzz_encoders", "text-%02d" % i, text.encode("latin-1"))


def ini(outdir):
    put(outdir, "fuzz_host_ini", "plain", "[LumoraPlugIn]\r\nEnabled=1\r\nImgFolder=Z:\\tmp\\img\r\nnFeeds=1\r\n"
        "Feed0_Query=mountains\r\n; comment\r\n[Settings]\r\nRebuildList=1\r\n")
    put(outdir, "fuzz_host_ini", "quoted", "x=before\n[a]\n  key = \" spaced \" \n[A]\nKEY=dup\n[b\nnot=a section\n")
    put(outdir, "fuzz_host_ini", "empty", "")


def main():
    outdir = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        proc, base = start_service(tmp)
        try:
            answers(outdir, base)
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(timeout=10)
    state_files(outdir)
    encoders(outdir)
    ini(outdir)


if __name__ == "__main__":
    main()
