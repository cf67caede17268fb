"""A short scripted session of the control through `qsft host`.

Usage: demo.py PATH/TO/qsft

Starts `qsft host`, sends one JSON request at a time, prints it ("→"), the host's answer ("←")
and what the answer shows. Exits 0 when every answer is the expected one, 1 otherwise; the host
is always ended before the script returns.
"""
import json
import subprocess
import sys

PAGE = "https://dms.example.test/app/page"

# (request, what the answer shows, the expected answer or None to show it without checking)
STEPS = [
    ({"id": 1, "op": "create", "control": "a", "page": PAGE, "zone": 2,
      "props": {"Url": PAGE, "DatasourceName": "Archive", "User": "corp/jdoe"}},
     "A control is created for a page in the trusted-sites zone, with its four properties.",
     {"id": 1, "result": None}),
    ({"id": 2, "op": "get", "control": "a", "name": "User"},
     "The user name given at creation was sanitised: every / and \\ became _.",
     {"id": 2, "result": "corp_jdoe"}),
    ({"id": 3, "op": "put", "control": "a", "name": "user", "value": "a/b\\c"},
     "Names are found whatever their case: 'user' writes the User property...",
     {"id": 3, "result": None}),
    ({"id": 4, "op": "get", "control": "a", "name": "USER"},
     "...and 'USER' reads it back, sanitised the same way as at creation.",
     {"id": 4, "result": "a_b_c"}),
    ({"id": 5, "op": "call", "control": "a", "name": "gettransferstatus", "args": [7]},
     "No transfer has been started, so its status is empty (null).",
     {"id": 5, "result": None}),
    ({"id": 6, "op": "call", "control": "a", "name": "GetTransferStatus"},
     "A call without its argument is refused by the dispatch layer: 0x8002000E.",
     {"id": 6, "error": {"code": -2147352562}}),
    ({"id": 7, "op": "call", "control": "a", "name": "FormatDisk", "args": []},
     "An unknown name is refused with 0x80020006; the control is untouched.",
     {"id": 7, "error": {"code": -2147352570}}),
    ({"id": 8, "op": "save", "control": "a"},
     "The property bag a host would persist: version stamp, base properties, the four.",
     None),
    ({"id": 9, "op": "create", "control": "b", "props": {}},
     "A second control in the same process, initialised without values...",
     {"id": 9, "result": None}),
    ({"id": 10, "op": "get", "control": "b", "name": "Url"},
     "...takes the defaults: Url reads ERROR:NO_URL.",
     {"id": 10, "result": "ERROR:NO_URL"}),
    ({"id": 11, "op": "destroy", "control": "a"},
     "Destroying control a leaves control b alive.",
     {"id": 11, "result": None}),
    ({"id": 12, "op": "quit"},
     "The host ends; control b is destroyed with it.",
     {"id": 12, "result": None}),
]


def matches(answer, expected):
    """True when every member of `expected` is in `answer` with the same value."""
    if isinstance(expected, dict):
        return isinstance(answer, dict) and all(
            k in answer and matches(answer[k], v) for k, v in expected.items())
    return answer == expected


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    sys.stdout.reconfigure(encoding="utf-8")  # the arrows, whatever the locale
    host = subprocess.Popen([sys.argv[1], "host"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, encoding="utf-8")
    ok = True
    try:
        for request, explanation, expected in STEPS:
            line = json.dumps(request, ensure_ascii=False, separators=(",", ":"))
            host.stdin.write(line + "\n")
            host.stdin.flush()
            answer_line = host.stdout.readline().rstrip("\n")
            print("→ " + line)
            print("← " + answer_line)
            print("  " + explanation)
            print()
            if not answer_line:
                print("qsft host ended without answering", file=sys.stderr)
                return 1
            if expected is not None and not matches(json.loads(answer_line), expected):
                print("  UNEXPECTED: wanted " + json.dumps(expected), file=sys.stderr)
                ok = False
        host.stdin.close()
        code = host.wait(timeout=30)
        if code != 0:
            print("qsft host exited with %d" % code, file=sys.stderr)
            ok = False
    finally:
        if host.poll() is None:
            host.kill()
            host.wait()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
