#!/usr/bin/env python3
"""TLS through the real module in the stand-in host, with certificates made
for this run by openssl (a throwaway CA, a server certificate it signed, and
a self-signed one):

- a self-signed server is refused (natively curl's verification error, under
  wine WinINet's 12045 family), and no request reaches it;
- a server signed by a CA nobody trusts is refused the same way;
- natively, a server signed by the CA is accepted once the run trusts that CA
  (LUMORA_CA_FILE, honoured by the native build only);
- natively, an https answer that redirects to http is not followed.

usage: tls_host_test.py --host VDTHOST --module MODULE [--wine]
"""

import http.server
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from hostkit import arguments, plugin_lines, write_settings  # noqa: E402

HOST = None
CERTS = None
# Certificate errors: curl's CURLE_PEER_FAILED_VERIFICATION; WinINet's
# ERROR_INTERNET_INVALID_CA, SEC_CERT_CN_INVALID, SEC_CERT_DATE_INVALID,
# SEC_CERT_ERRORS, SEC_CERT_REV_FAILED (wine's answer for an unknown CA) and
# SECURE_FAILURE.
NATIVE_CERT_ERRORS = {60}
WININET_CERT_ERRORS = {12045, 12037, 12038, 12055, 12057, 12175}


def under_wine():
    return HOST.wine


def make_certs(folder):
    def run(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n"
                "basicConstraints=CA:FALSE\n")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Lumora Throwaway Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signed.key", "-out", "signed.csr", "-subj", "/CN=127.0.0.1")
    run("x509", "-req", "-in", "signed.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-out", "signed.pem", "-days", "2", "-extfile", "server.ext")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "self.key", "-out", "self.pem", "-days", "2",
        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost")
    return folder


class Server(threading.Thread):
    """A small HTTP or HTTPS server: a one-item search page, a JPEG, and a
    redirect; it records every request it understood."""

    def __init__(self, cert=None, redirect_to=None):
        super().__init__(daemon=True)
        owner = self
        self.requests = []
        self.redirect_to = redirect_to

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                owner.requests.append((self.path, dict(self.headers.items())))
                if owner.redirect_to and self.path.startswith("/api/"):
                    self.send_response(302)
                    self.send_header("Location", owner.redirect_to + self.path)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if self.path.startswith("/api/v1/search"):
                    base = "%s://127.0.0.1:%d" % ("https" if cert else "http", owner.port)
                    body = json.dumps({"data": [{"id": "tls001", "path": base + "/full/tl/lumora-tls001.jpg",
                                                 "file_type": "image/jpeg", "purity": "sfw"}],
                                       "meta": {"last_page": 1, "total": 1}}).encode()
                    kind = "application/json"
                else:
                    body, kind = b"\xff\xd8\xff\xe0" + b"\0" * 64 + b"\xff\xd9", "image/jpeg"
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        if cert:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(os.path.join(CERTS, cert + ".pem"), os.path.join(CERTS, cert + ".key"))
            self.httpd.socket = ctx.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.url = "%s://127.0.0.1:%d" % ("https" if cert else "http", self.port)

    def run(self):
        self.httpd.serve_forever(poll_interval=0.1)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.join(5)


def run_host(service_url, trust_ca=False, seconds=3):
    work = tempfile.mkdtemp(prefix="lumora_tls_", dir=os.getcwd())
    try:
        folder = os.path.join(work, "images")
        os.makedirs(folder)
        ini = os.path.join(work, "host.ini")
        write_settings(ini, HOST.path(folder), [{"Type": 0, "Flg": 1, "Categories": "111", "Purity": "100",
                                                  "Sorting": 1}])
        env = dict(os.environ, LUMORA_SERVICE_URL=service_url,
                   LUMORA_REGISTRY_FILE=os.path.join(work, "registry.ini"))
        env.pop("LUMORA_CA_FILE", None)
        if trust_ca:
            env["LUMORA_CA_FILE"] = os.path.join(CERTS, "ca.pem")
        code, out = HOST.run(ini, "run", "--seconds", seconds, "--show-every", "1000", env=env,
                             timeout=seconds + 120)
        lines = plugin_lines(out)
        images = [n for _, _, files in os.walk(folder) for n in files if n.endswith(".jpg")]
        return code, out, lines, images
    finally:
        shutil.rmtree(work, ignore_errors=True)


def error_codes(lines):
    codes = []
    for l in lines:
        if l.startswith("QueryServerApi: Error "):
            codes.append(int(l.split()[2]))
    return codes


class Certificates(unittest.TestCase):
    def test_untrusted_servers_are_refused(self):
        expected = WININET_CERT_ERRORS if under_wine() else NATIVE_CERT_ERRORS
        for cert in ("self", "signed"):  # "signed": by a CA this run does not trust
            with self.subTest(cert=cert):
                with Server(cert) as server:
                    code, out, lines, images = run_host(server.url)
                self.assertEqual(code, 0, out)
                codes = error_codes(lines)
                self.assertTrue(codes, out)
                self.assertTrue(set(codes) <= expected, (codes, out))
                self.assertIn("QueryServerApi: RetCode: -3", lines, out)
                self.assertEqual(server.requests, [], out)
                self.assertEqual(images, [], out)

    def test_a_server_signed_by_a_trusted_ca_is_accepted(self):
        if HOST.wine:
            self.skipTest("wine's trust store is the system's; the native build takes the run's CA")
        with Server("signed") as server:
            code, out, lines, images = run_host(server.url, trust_ca=True)
        self.assertEqual(code, 0, out)
        self.assertEqual(error_codes(lines), [], out)
        self.assertIn("ParseWallpaperArray: parsed 1 wallpapers, total=1, lastPage=1", lines, out)
        self.assertTrue(server.requests, out)
        self.assertEqual(images, ["lumora-tls001.jpg"], out)

    def test_https_is_never_redirected_to_http(self):
        if HOST.wine:
            self.skipTest("needs a trusted https server: native build only")
        with Server(None) as plain:
            with Server("signed", redirect_to=plain.url) as server:
                code, out, lines, images = run_host(server.url, trust_ca=True)
        self.assertEqual(code, 0, out)
        self.assertTrue(server.requests, out)
        self.assertEqual(plain.requests, [], out)
        self.assertIn("QueryServerApi: RetCode: 302", lines, out)
        self.assertTrue([l for l in lines if l.startswith("QueryServerApi: redirect refused")], out)


def main():
    global HOST, CERTS
    _, HOST, argv = arguments(__doc__)
    certs = tempfile.mkdtemp(prefix="lumora_certs_")
    try:
        CERTS = make_certs(certs)
        result = unittest.main(argv=argv + ["-v"], exit=False).result
    finally:
        shutil.rmtree(certs, ignore_errors=True)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
