#!/usr/bin/python3
"""A throw-away Kerberos realm on 127.0.0.1 with a web server that requires Negotiate.

Usage: kerberos_realm.py DIR

Creates the realm QSFT.TEST in DIR (database, a KDC on a free port, the user "alice" with a
ticket in DIR/ccache, the service HTTP/localhost in a keytab), then serves HTTP on a free port of
127.0.0.1 for the host name "localhost": GET /download?file=NAME answers with DIR/files/NAME,
POST answers "OK <total bytes received>". Every request without a valid Negotiate token is
answered 401 "WWW-Authenticate: Negotiate". One line per answered request goes to
DIR/server.log: "METHOD PATH STATUS PRINCIPAL".

Prints one line "ready HTTP_PORT" once everything runs (the environment to use is in
DIR/env, one NAME=VALUE a line), and stops the KDC and the server when standard input ends.
"""
import base64
import http.server
import os
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

import gssapi

REALM = "QSFT.TEST"
USER_PASSWORD = "alice-pw"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def listens_on(pid, port):
    """Whether process pid itself listens on 127.0.0.1:port (a port that accepts connections
    may belong to another program that took it after it was found free)."""
    local = f"0100007F:{port:04X}"
    inodes = set()
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if fields[1] == local and fields[3] == "0A":
                inodes.add(f"socket:[{fields[9]}]")
    fd_dir = f"/proc/{pid}/fd"
    try:
        names = os.listdir(fd_dir)
    except OSError:
        return False
    for name in names:
        try:
            if os.readlink(os.path.join(fd_dir, name)) in inodes:
                return True
        except OSError:
            pass
    return False


def write_config(d, kdc_port):
    write(os.path.join(d, "krb5.conf"), f"""[libdefaults]
 default_realm = {REALM}
 dns_lookup_kdc = false
 dns_lookup_realm = false
 dns_canonicalize_hostname = false
 rdns = false
 udp_preference_limit = 1
[realms]
 {REALM} = {{
  kdc = 127.0.0.1:{kdc_port}
 }}
[domain_realm]
 localhost = {REALM}
""")
    write(os.path.join(d, "kdc.conf"), f"""[kdcdefaults]
 kdc_listen = 127.0.0.1:{kdc_port}
 kdc_tcp_listen = 127.0.0.1:{kdc_port}
[realms]
 {REALM} = {{
  database_name = {d}/principal
  key_stash_file = {d}/stash
  acl_file = {d}/kadm5.acl
  kdc_listen = 127.0.0.1:{kdc_port}
  kdc_tcp_listen = 127.0.0.1:{kdc_port}
 }}
[logging]
 kdc = FILE:{d}/kdc.log
""")


def start_kdc(d):
    """The KDC, listening on a port that was free. Another program (a parallel test) may take
    the port before the KDC binds it; a KDC that does not listen on it itself is stopped and
    started again on a fresh port, a few times."""
    for _ in range(5):
        kdc_port = free_port()
        write_config(d, kdc_port)
        kdc = subprocess.Popen(["krb5kdc", "-n", "-r", REALM], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        for _ in range(500):  # at most 5 s until the KDC listens
            if listens_on(kdc.pid, kdc_port):
                return kdc
            if kdc.poll() is not None:
                break
            time.sleep(0.01)
        kdc.terminate()
        kdc.wait()
    raise RuntimeError("the KDC did not start")


def make_realm(d):
    write_config(d, 0)  # the KDC's port is chosen when it starts
    env = {
        "KRB5_CONFIG": f"{d}/krb5.conf",
        "KRB5_KDC_PROFILE": f"{d}/kdc.conf",
        "KRB5CCNAME": f"FILE:{d}/ccache",
        "KRB5_KTNAME": f"FILE:{d}/http.keytab",
        "KRB5RCACHETYPE": "none",
    }
    os.environ.update(env)
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    subprocess.run(["kdb5_util", "create", "-s", "-r", REALM, "-P", "master-pw"], **quiet)
    for query in (f"addprinc -pw {USER_PASSWORD} alice", "addprinc -randkey HTTP/localhost",
                  f"ktadd -k {d}/http.keytab HTTP/localhost"):
        subprocess.run(["kadmin.local", "-r", REALM, "-q", query], **quiet)
    kdc = start_kdc(d)
    try:
        subprocess.run(["kinit", "alice"], input=USER_PASSWORD + "\n", text=True, **quiet)
    except BaseException:
        kdc.terminate()
        kdc.wait()
        raise
    write(os.path.join(d, "env"), "".join(f"{k}={v}\n" for k, v in env.items()))
    return kdc


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = ""
    log_lock = threading.Lock()
    received = 0

    def log_message(self, *args):
        pass

    def record(self, status, principal):
        with self.log_lock:
            with open(os.path.join(self.root, "server.log"), "a") as f:
                f.write(f"{self.command} {self.path.split('?')[0]} {status} {principal}\n")

    def authenticate(self):
        """The client's principal and the answer token, or None after answering 401."""
        header = self.headers.get("Authorization", "")
        if header.startswith("Negotiate "):
            try:
                creds = gssapi.Credentials(usage="accept")
                context = gssapi.SecurityContext(creds=creds, usage="accept")
                token = context.step(base64.b64decode(header[len("Negotiate "):]))
                if context.complete:
                    return str(context.initiator_name), token
            except gssapi.exceptions.GSSError:
                pass
        self.drain()
        self.record(401, "-")
        body = b"Negotiate required"
        self.send_response(401)
        self.send_header("WWW-Authenticate", "Negotiate")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        return None

    def drain(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = self.rfile.read(length) if length else b""
        return data

    def answer(self, body, principal, token, extra=()):
        self.record(200, principal)
        self.send_response(200)
        if token:
            self.send_header("WWW-Authenticate", "Negotiate " + base64.b64encode(token).decode())
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        auth = self.authenticate()
        if auth is None:
            return
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        name = os.path.basename(query.get("file", [""])[0])
        with open(os.path.join(self.root, "files", name), "rb") as f:
            body = f.read()
        self.answer(body, auth[0], auth[1], [("QS-Content-Length", str(len(body)))])

    def do_POST(self):
        auth = self.authenticate()
        if auth is None:
            return
        Handler.received += len(self.drain())
        self.answer(f"OK {Handler.received}".encode(), auth[0], auth[1])


def main():
    d = os.path.abspath(sys.argv[1])
    kdc = make_realm(d)
    try:
        Handler.root = d
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        print(f"ready {server.server_address[1]}", flush=True)
        sys.stdin.read()
        server.shutdown()
    finally:
        kdc.terminate()
        kdc.wait()


if __name__ == "__main__":
    main()
