"""The Windows 98 prefix that the tests run Wine in, shared by the suites
that compare the host layer with Wine: made once per build folder (wineboot
is slow), and copied per case with hard links (a prefix is 600 MB).
"""

import fcntl
import os
import shutil
import subprocess
import tempfile

READY = ".pfm-ready"


class PrefixError(Exception):
    pass


def run(cmd, env=None, cwd=None, timeout=120):
    """Runs CMD to its end. Its output goes through files, not pipes: the
    Wine processes that a wine command starts (services, explorer) inherit
    them and live on for a while, and a pipe would only end with them."""
    full = dict(os.environ)
    full.update(env or {})
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run(cmd, env=full, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=err, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(cmd, proc.returncode, out.read(), err.read())


def wine_env(prefix, display=""):
    return {"WINEPREFIX": prefix, "WINEARCH": "win32", "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=", "DISPLAY": display}


def windows_path(path):
    """The Windows name of a Unix path through the prefix's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_template(template):
    """A Windows 98 prefix at TEMPLATE, made once. The ready mark and the
    lock beside it let the suites share it."""
    if os.path.isfile(os.path.join(template, READY)):
        return
    os.makedirs(os.path.dirname(os.path.abspath(template)), exist_ok=True)
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isfile(os.path.join(template, READY)):
            return
        shutil.rmtree(template, ignore_errors=True)
        env = wine_env(template)
        for cmd in (["wineboot", "-i"], ["wine", "winecfg", "-v", "win98"], ["wineserver", "-w"]):
            r = run(cmd, env=env, timeout=300)
            if r.returncode != 0:
                raise PrefixError("%s failed: %s" % (" ".join(cmd), r.stderr.decode(errors="replace")))
        open(os.path.join(template, READY), "w").close()


def copy_prefix(template, dest):
    """A copy of the template: folders new, files hard-linked, except the
    files that Wine or the host layer rewrite in place, which get copies of
    their own."""
    shutil.rmtree(dest, ignore_errors=True)
    r = run(["cp", "-al", template, dest])
    if r.returncode != 0:
        raise PrefixError("cannot copy the prefix: " + r.stderr.decode(errors="replace"))
    for folder in (dest, os.path.join(dest, "drive_c", "windows")):
        for name in os.listdir(folder):
            p = os.path.join(folder, name)
            if os.path.isfile(p) and not os.path.islink(p) and (
                    name.endswith(".reg") or name.endswith(".ini") or name.startswith(".")):
                with open(p, "rb") as f:
                    data = f.read()
                os.unlink(p)
                with open(p, "wb") as f:
                    f.write(data)


def restore_modes(root):
    """Makes every folder under ROOT writable again (cases take write
    permission away), so that the work folder can be removed."""
    if os.path.isdir(root) and not os.path.islink(root):
        os.chmod(root, 0o755)
    for dirpath, dirnames, _ in os.walk(root):
        for d in dirnames:
            p = os.path.join(dirpath, d)
            if not os.path.islink(p):
                os.chmod(p, 0o755)
