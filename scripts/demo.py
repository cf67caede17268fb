"""The page's whole flow, end to end, against the development server on 127.0.0.1.

Usage: demo.py PATH/TO/qsft   (qsft-devserver is taken from the same directory)

Generates a few sample documents into a temporary directory, serves them with `qsft-devserver`
(which breaks the first download midway, once), and drives ONE control through
`qsft host --dialogs=script` the way a page of the web client does: choose the working
directory, download a document into it while polling its progress, change it and upload it
back in chunks, and try a download into a directory the page was never granted.

Settings and the working directory live in the temporary directory (XDG_CONFIG_HOME,
XDG_DATA_HOME), so the user's own are never touched. Exits 0 when every step behaved as
expected, 1 otherwise; the server and the host are always ended before the script returns.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1024 * 1024
DOCUMENT = "contract.pdf"
DOCUMENT_SIZE = 8 * MIB
BREAK_AFTER = 3 * MIB  # the server breaks the first download of the document here, once
CHUNK_SIZE = 1 * MIB
SAMPLES = {
    DOCUMENT: None,  # generated: DOCUMENT_SIZE bytes
    "minutes.txt": b"Minutes of the board meeting.\n" * 40,
    "offer.odt": b"PK\x03\x04 an offer, as far as this demo is concerned\n" * 200,
}
DENIED_TEXT = "An access was denied while retrieving a file to an unauthorized directory."
STEP_BOUND_S = 30  # a transfer that takes longer than this counts as stuck


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


def say(text=""):
    print(text, flush=True)


def human(n):
    return "%.1f MiB" % (n / MIB) if n >= MIB else "%d bytes" % n


class Server:
    """qsft-devserver with its request log collected line by line."""

    def __init__(self, program, root):
        self.proc = subprocess.Popen(
            [program, "--root", root, "--port", "0", "--exit-after", "120", "--log",
             "--fault", "break-after=%d,times=1,path=/download" % BREAK_AFTER],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().strip()
        expect(first.startswith("listening on "), "the server did not start: " + repr(first))
        self.url = first[len("listening on "):]
        self.log = []
        self._reader = threading.Thread(target=self._read_log, daemon=True)
        self._reader.start()

    def _read_log(self):
        for line in self.proc.stderr:
            self.log.append(line.rstrip("\n"))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Host:
    """`qsft host --dialogs=script`: one request line in, one answer line out."""

    def __init__(self, program, env):
        self.proc = subprocess.Popen([program, "host", "--dialogs=script"], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     encoding="utf-8")
        self.next_id = 1

    def ask(self, request, show=True):
        request = dict({"id": self.next_id}, **request)
        self.next_id += 1
        line = json.dumps(request, ensure_ascii=False, separators=(",", ":"))
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer_line = self.proc.stdout.readline().rstrip("\n")
        if show:
            say("   → " + line)
            say("   ← " + answer_line)
        expect(answer_line, "qsft host ended without answering")
        answer = json.loads(answer_line)
        expect("error" not in answer, "the host refused the request: " + answer_line)
        return answer.get("result")

    def call(self, name, *args, show=True):
        return self.ask({"op": "call", "control": "page", "name": name, "args": list(args)},
                        show=show)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write('{"id":0,"op":"quit"}\n')
                self.proc.stdin.close()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()


def follow(host, ticket, total, label):
    """Polls GetTransferStatus every 100 ms with a progress bar; returns (state, bytes, text)."""
    terminal = sys.stdout.isatty()
    started = time.monotonic()
    last_line = 0.0
    while True:
        status = host.call("GetTransferStatus", ticket, show=False)
        expect(isinstance(status, str), "GetTransferStatus answered %r" % (status,))
        state, done, text = status.split("|", 2)  # the text may hold further "|"
        state, done = int(state), int(done)
        elapsed = max(time.monotonic() - started, 1e-3)
        share = min(done / total, 1.0) if total else 1.0
        bar = "#" * int(share * 30) + "." * (30 - int(share * 30))
        # A rate over the first moments says little: shown once a fifth of a second has passed.
        rate = "  %.1f MiB/s" % (done / MIB / elapsed) if elapsed >= 0.2 else ""
        line = "   %s [%s] %3d%%  %s / %s%s" % (
            label, bar, share * 100, human(done), human(total), rate)
        ended = state in (10, -1)
        if terminal:
            print("\r" + line, end="\n" if ended else "", flush=True)
        elif ended or time.monotonic() - last_line >= 0.5:
            say(line)
            last_line = time.monotonic()
        if ended:
            return state, done, text
        expect(time.monotonic() - started < STEP_BOUND_S, label + " seems stuck: " + status)
        time.sleep(0.1)


def make_samples(root):
    for name, content in SAMPLES.items():
        if content is None:
            content = random.Random(7).randbytes(DOCUMENT_SIZE)
        with open(os.path.join(root, name), "wb") as f:
            f.write(content)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(qsft, devserver, scratch):
    root = os.path.join(scratch, "server-root")
    os.makedirs(root)
    make_samples(root)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(scratch, "config"),
               XDG_DATA_HOME=os.path.join(scratch, "data"))

    server = Server(devserver, root)
    host = None
    try:
        page = server.url + "/app/page.html"
        say("The development server serves %s on %s:" % (root, server.url))
        for name in sorted(SAMPLES):
            say("   %-12s %s" % (name, human(os.path.getsize(os.path.join(root, name)))))
        say("It will break the connection once, after %s of a download." % human(BREAK_AFTER))
        say()

        host = Host(qsft, env)
        say("1. A page of %s creates the control with its datasource, user and the template"
            % server.url)
        say("   of the default working directory.")
        host.ask({"op": "create", "control": "page", "page": page, "zone": 2, "props": {
            "Url": page, "DatasourceName": "Archive", "User": "jdoe",
            "UserWorkDir": "%LocalAppData%/Quillstone/WebWorkDir/%Datasource%/%User%"}})
        say()

        say("2. ChooseWorkDir: nothing is stored yet, so the control creates the default in its")
        say("   safe location and takes it without asking.")
        expect(host.call("ChooseWorkDir") is True, "ChooseWorkDir did not succeed")
        work_dir = host.ask({"op": "get", "control": "page", "name": "UserWorkDir"})
        expect(os.path.isdir(work_dir), "the working directory was not created")
        expect(work_dir.startswith(env["XDG_DATA_HOME"]), "not in the safe location: " + work_dir)
        expect(host.ask({"op": "shown"}, show=False) == [], "a dialog was shown")
        say("   The working directory exists now: %s (no dialog was shown)." % work_dir)
        say()

        target = os.path.join(work_dir, DOCUMENT)
        say("3. StartFileDownload of %s into the working directory; the page polls" % DOCUMENT)
        say("   GetTransferStatus every 100 ms.")
        ticket = host.call("StartFileDownload", "/download?file=" + DOCUMENT, target)
        expect(isinstance(ticket, int), "no ticket: %r" % (ticket,))
        state, done, text = follow(host, ticket, DOCUMENT_SIZE, DOCUMENT)
        expect(state == 10, "the download ended in state %d: %s" % (state, text))
        expect(read(target) == read(os.path.join(root, DOCUMENT)), "the bytes differ")
        expect(not os.path.exists(target + ".!incomplete"), "the temporary file was left")
        say("   Done: %s, the exact bytes of the server's document." % human(done))
        say()

        say("4. Midway the server broke the connection; the control resumed at once from the")
        say("   last byte it had written. The server's log:")
        downloads = [line for line in server.log if "/download?file=" + DOCUMENT in line]
        for line in downloads:
            say("   " + line)
        resumed = [line for line in downloads if "resumeAt=%d" % BREAK_AFTER in line]
        expect(len(downloads) == 2 and resumed, "no resumption at %d in the log" % BREAK_AFTER)
        say("   The first answer ended after %d bytes; the control asked again with" % BREAK_AFTER)
        say("   &resumeAt=%d and appended the rest to its temporary file." % BREAK_AFTER)
        say()

        say("5. The document is changed and uploaded back in chunks of %s." % human(CHUNK_SIZE))
        changed = read(target) + b"\nSigned, J. Doe\n"
        with open(target, "wb") as f:
            f.write(changed)
        before = len(server.log)
        ticket = host.call("StartFileUpload", "/upload", True, target, CHUNK_SIZE)
        expect(isinstance(ticket, int), "no ticket: %r" % (ticket,))
        state, done, text = follow(host, ticket, len(changed), DOCUMENT)
        expect(state == 10, "the upload ended in state %d: %s" % (state, text))
        chunks = [line for line in server.log[before:] if "POST /upload" in line]
        say("   %d chunk requests; the last one checked the document in:" % len(chunks))
        say("   " + chunks[-1] if chunks else "   (none)")
        say("   The server's check-in answer, as GetTransferStatus shows it: %r" % text)
        expect(len(chunks) == -(-len(changed) // CHUNK_SIZE), "unexpected chunk count")
        expect(text == "OK %d" % len(changed), "unexpected check-in answer")
        expect(read(os.path.join(root, DOCUMENT)) == changed, "the server has other bytes")
        say()

        elsewhere = os.path.join(scratch, "never-granted", "minutes.txt")
        say("6. A download into a directory the page was never granted is refused by the")
        say("   control, with its own message, before anything is sent or created.")
        before = len(server.log)
        answer = host.call("StartFileDownload", "/download?file=minutes.txt", elsewhere)
        expect(answer == DENIED_TEXT, "unexpected answer %r" % (answer,))
        expect(not os.path.exists(os.path.dirname(elsewhere)), "the directory was created")
        time.sleep(0.2)  # a request, if one had been sent, would be in the log by now
        expect(len(server.log) == before, "a request reached the server")
        say()
        host.ask({"op": "quit"})
        return True
    finally:
        if host is not None:
            host.stop()
        server.stop()


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    sys.stdout.reconfigure(encoding="utf-8")  # the arrows, whatever the locale
    qsft = os.path.abspath(sys.argv[1])
    devserver = os.path.join(os.path.dirname(qsft), "qsft-devserver")
    scratch = tempfile.mkdtemp(prefix="qsft-demo-")
    started = time.monotonic()
    try:
        run(qsft, devserver, scratch)
    except Failure as failure:
        print("UNEXPECTED: %s" % failure, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    say("Every step behaved as expected (%.1f s)." % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
