"""The Debian package, built from the build tree and installed into a scratch root.

Usage: package_test.py BUILD_DIR SOURCE_DIR [CPACK]

Runs cpack into a temporary folder, installs the package with `dpkg --root` (its own package
database, dependencies not installed there; works without root), and checks what landed: the
programs and the interface description beside them, the links on PATH, the extension as in the
source tree and linked where Debian's chromium loads extensions from, and the three browsers' host
manifests, each naming the installed host and allowing the extension's own identity only (worked
out here from the extension's manifest, not taken from the program). The installed qsft must run
and find its interface description; purging the package must take the host manifests with it.
Exits 0 when all holds, 1 otherwise.
"""
import base64
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

PACKAGE = "qswebfiletransfer"
HOST_NAME = "com.tarnholt.quillstone.filetransfer"
PROGRAMS = "/usr/libexec/qswebfiletransfer"
HOST = PROGRAMS + "/qsft-browser-host"
MANIFESTS = {
    "chromium": "/etc/chromium/native-messaging-hosts/" + HOST_NAME + ".json",
    "chrome": "/etc/opt/chrome/native-messaging-hosts/" + HOST_NAME + ".json",
    "firefox": "/usr/lib/mozilla/native-messaging-hosts/" + HOST_NAME + ".json",
}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def run(args, **kw):
    r = subprocess.run(args, capture_output=True, text=True, timeout=60, **kw)
    if r.returncode != 0:
        raise RuntimeError("%s: exit %d\n%s%s" % (" ".join(args), r.returncode, r.stdout, r.stderr))
    return r.stdout


def chromium_id(key):
    """Chromium's identity of an extension: the SHA-256 of its public key, first 32 hex digits
    spelled with the letters a to p."""
    digest = hashlib.sha256(base64.b64decode(key)).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


def main(build_dir, source_dir, cpack):
    scratch = tempfile.mkdtemp(prefix="qsft-package-")
    try:
        out = os.path.join(scratch, "out")
        run([cpack, "-G", "DEB", "--config", os.path.join(build_dir, "CPackConfig.cmake"),
             "-B", out])
        debs = glob.glob(os.path.join(out, PACKAGE + "_*.deb"))
        if len(debs) != 1:
            raise RuntimeError("expected one package in %s, found %s" % (out, os.listdir(out)))
        deb = debs[0]

        # The package's dependencies are packages this machine has.
        depends = run(["dpkg-deb", "-f", deb, "Depends"]).strip()
        check(depends != "", "the package declares no dependencies")
        for dep in depends.split(","):
            name = dep.strip().split(" ")[0].split(":")[0]
            status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name],
                                    capture_output=True, text=True).stdout
            check(status.endswith("installed"), "dependency %s is not installed here" % name)

        root = os.path.join(scratch, "root")
        admin = os.path.join(root, "var/lib/dpkg")
        for d in ("updates", "info"):
            os.makedirs(os.path.join(admin, d))
        open(os.path.join(admin, "status"), "w").close()
        dpkg = ["dpkg", "--root=" + root, "--force-not-root", "--force-depends",
                "--log=/dev/null"]
        run(dpkg + ["-i", deb])
        at = lambda path: os.path.join(root, path.lstrip("/"))

        for program in ("qsft", "qsft-browser-host", "qsft-devserver"):
            check(os.access(at(PROGRAMS + "/" + program), os.X_OK), program + " is not installed")
        check(os.path.isfile(at(PROGRAMS + "/QSFileTransferLib.json")),
              "the interface description is not beside the programs")
        for link in ("qsft", "qsft-devserver"):
            path = at("/usr/bin/" + link)
            check(os.path.islink(path) and os.path.realpath(path) == at(PROGRAMS + "/" + link),
                  "/usr/bin/%s does not lead to the installed program" % link)

        extension = os.path.join(source_dir, "browser/extension")
        installed = at("/usr/share/qswebfiletransfer/extension")
        def tree(top):
            files = {}
            for d, _, names in os.walk(top):
                for n in names:
                    with open(os.path.join(d, n), "rb") as f:
                        files[os.path.relpath(os.path.join(d, n), top)] = f.read()
            return files
        source_files, installed_files = tree(extension), tree(installed)
        check(source_files.keys() == installed_files.keys(),
              "the installed extension holds %s, the source %s"
              % (sorted(installed_files), sorted(source_files)))
        for name in sorted(source_files.keys() & installed_files.keys()):
            check(source_files[name] == installed_files[name],
                  "the installed extension's %s differs from the source's" % name)
        link = at("/usr/share/chromium/extensions/" + PACKAGE)
        check(os.path.islink(link) and os.path.realpath(link) == installed,
              "Debian's chromium does not find the extension")
        with open(os.path.join(extension, "manifest.json")) as f:
            ext = json.load(f)
        origin = "chrome-extension://%s/" % chromium_id(ext["key"])
        gecko = ext["browser_specific_settings"]["gecko"]["id"]

        for browser, path in MANIFESTS.items():
            try:
                with open(at(path)) as f:
                    m = json.load(f)
            except (OSError, ValueError) as e:
                check(False, "%s manifest %s: %s" % (browser, path, e))
                continue
            check(m.get("name") == HOST_NAME and m.get("type") == "stdio",
                  "%s manifest: name or type wrong: %s" % (browser, m))
            check(m.get("path") == HOST, "%s manifest names %s" % (browser, m.get("path")))
            if browser == "firefox":
                check(m.get("allowed_extensions") == [gecko] and "allowed_origins" not in m,
                      "firefox manifest allows %s" % m.get("allowed_extensions"))
            else:
                check(m.get("allowed_origins") == [origin] and "allowed_extensions" not in m,
                      "%s manifest allows %s, not %s" % (browser, m.get("allowed_origins"), origin))

        # Everything under /etc is configuration that survives upgrades.
        conffiles = run(["dpkg-deb", "--info", deb, "conffiles"]).split()
        etc = sorted("/" + os.path.relpath(os.path.join(d, f), root)
                     for d, _, files in os.walk(at("/etc")) for f in files)
        check(sorted(conffiles) == etc, "conffiles %s, files under /etc %s" % (conffiles, etc))

        env = dict(os.environ, HOME=os.path.join(scratch, "home"),
                   XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                   XDG_DATA_HOME=os.path.join(scratch, "data"))
        qsft = at("/usr/bin/qsft")
        check("usage: qsft COMMAND" in run([qsft, "--help"], env=env), "qsft --help")
        version = run([qsft, "host", "--version"], env=env)
        check(PROGRAMS + "/QSFileTransferLib.json (present)" in version,
              "the installed qsft does not find its interface description:\n" + version)

        run(dpkg + ["--purge", PACKAGE])
        left = [p for p in list(MANIFESTS.values()) + [PROGRAMS + "/qsft"]
                if os.path.exists(at(p))]
        check(not left, "left after purging: %s" % left)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]),
                      sys.argv[3] if len(sys.argv) > 3 else "cpack"))
    except (RuntimeError, subprocess.TimeoutExpired, OSError, KeyError) as e:
        print("FAIL: %s" % e)
        sys.exit(1)
