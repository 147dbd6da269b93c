#!/usr/bin/env python3
"""Whole runs of the host program on disk images of Windows 95/98/Me drives.

The drives of run_drive.py are put into images made at test time with
examples/make-image.sh (an MBR, mkfs.fat --offset, mcopy): FAT16 at sector
63, FAT32 of type 0x0C, a logical partition, a superfloppy, a fixed VHD, an
image whose active partition is not the first, WIN9X_PARTITION naming
another. Each case runs the program with WIN9X_DRIVE naming the image and
checks the exit code, the report, standard error, WIN.INI's exact text read
back with mtype, `fsck.fat -n` on the partition's bytes after a run that
writes, and the image byte for byte unchanged after one that fails. Besides
the table: kills at every mtools child of the write, the image in use by
QEMU, two copies of the program on one image.

    run_image.py --program build/host/pfmsetup --case NAME [--work DIR]
    run_image.py --list
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import run_drive as rd  # noqa: E402
from run_drive import FAILURE, SUCCESS  # noqa: E402

MAKE_IMAGE = os.path.join(rd.REPO, "examples", "make-image.sh")
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1")
MTOOLS_ENV.pop("MTOOLS_NO_VFAT", None)
SECTOR = 512


def mtools(tool, image, offset, *args, check=True):
    r = subprocess.run([tool, "-i", "%s@@%d" % (image, offset)] + list(args), env=MTOOLS_ENV,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if check and r.returncode != 0:
        raise SystemExit("%s %s: %s" % (tool, args, r.stderr.decode()))
    return r


def read_in_image(image, offset, path):
    r = mtools("mtype", image, offset, "::/" + path, check=False)
    return r.stdout if r.returncode == 0 else None


def fsck_problems(image, offset, size):
    """fsck.fat -n on a copy of the volume's bytes: empty when clean."""
    with open(image, "rb") as f:
        f.seek(offset)
        data = f.read(size)
    copy = image + ".volume"
    with open(copy, "wb") as f:
        f.write(data)
    r = subprocess.run(["fsck.fat", "-n", copy], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    os.unlink(copy)
    return "" if r.returncode == 0 else r.stdout.decode("utf-8", "replace")


def make_image(work, files, layout="primary", fat=16, size=None, name="disk.img", modes=None):
    """The drive's files in an image; (image path, offset of the drive's volume)."""
    folder = os.path.join(work, "content")
    shutil.rmtree(folder, ignore_errors=True)
    rd.make_drive(folder, files, {})
    image = os.path.join(work, name)
    argv = [MAKE_IMAGE, "--fat", str(fat), "--layout", layout]
    if size:
        argv += ["--size", str(size)]
    out = subprocess.run(argv + [folder, image], check=True, stdout=subprocess.PIPE).stdout
    offset = int(out.split()[-1])
    for path, mode in (modes or {}).items():
        if not mode & 0o222:
            mtools("mattrib", image, offset, "+r", "::/" + path)
    return image, offset


def volume_size(image, offset):
    with open(image, "rb") as f:
        f.seek(offset)
        boot = f.read(SECTOR)
    total = int.from_bytes(boot[19:21], "little") or int.from_bytes(boot[32:36], "little")
    return total * int.from_bytes(boot[11:13], "little")


def write_kit(work, kit=None):
    folder = os.path.join(work, "kit")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "pfmsetup.ini"), "wb") as f:
        f.write(kit if isinstance(kit, bytes) else open(kit, "rb").read() if kit else rd.KIT)
    shutil.copy(os.path.join(os.path.dirname(PROGRAM), "pfmres.dll"), folder)
    return folder


def environment(work, image, extra=None):
    env = dict(os.environ)
    env.pop("WINEPREFIX", None)
    env.pop("WIN9X_PARTITION", None)
    env.update({"WIN9X_DRIVE": image, "LC_ALL": "C.UTF-8", "XDG_RUNTIME_DIR": work,
                "XDG_STATE_HOME": os.path.join(work, "state")})
    env.update(extra or {})
    return env


def run_program(kit, env, answers=b"ok\nok\n", args=()):
    r = subprocess.run([PROGRAM] + list(args), input=answers, cwd=kit, env=env, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=300)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


# ---------------------------------------------------------------- the table

class ImageCase:
    def __init__(self, files, expect=None, report=SUCCESS, err=None, layout="primary", fat=16, size=None,
                 env=None, win_ini_path="WINDOWS/WIN.INI", modes=None, kit=None, damage=None,
                 untouched_volume=None):
        self.files = files
        self.expect = expect          # bytes, a routine of the bytes before, or None: the image unchanged
        self.report = report
        self.err = err                # a text the one line on standard error holds, or None for no line
        self.layout, self.fat, self.size = layout, fat, size
        self.env = env or {}
        self.win_ini_path = win_ini_path
        self.modes = modes or {}
        self.kit = kit
        self.damage = damage          # routine(image, offset, work) run on the made image
        self.untouched_volume = untouched_volume  # offset of another volume whose WIN.INI stays
        self.encoding, self.undo_err = "latin-1", None


def from_drive_case(name, **kw):
    c = rd.CASES[name]
    return ImageCase(c.files, c.expect_win_ini, c.report, c.err, win_ini_path=c.win_ini_path, modes=c.modes,
                     kit=c.kit, **kw)


def example(**kw):
    c = rd.CASES["example_drive"]
    fonts = {"WINDOWS/SYSTEM/" + f.decode(): b"PFM" for f in rd.EXAMPLE_FONTS}
    return ImageCase(dict(c.files, **fonts), c.expect_win_ini, kit=c.kit, **kw)


def patch(image, at, data):
    with open(image, "r+b") as f:
        f.seek(at)
        f.write(data)


def fat_layout(image, offset):
    with open(image, "rb") as f:
        f.seek(offset)
        b = f.read(SECTOR)
    bps, spc = int.from_bytes(b[11:13], "little"), b[13]
    reserved, fats = int.from_bytes(b[14:16], "little"), b[16]
    fat16 = int.from_bytes(b[22:24], "little")
    return {"fat": offset + reserved * bps, "fat_bytes": (fat16 or int.from_bytes(b[36:40], "little")) * bps,
            "fats": fats, "bits": 16 if fat16 else 32}


def first_cluster(image, offset, path):
    out = mtools("mshowfat", image, offset, "::/" + path).stdout.decode()
    return int(re.search(r"<(\d+)", out).group(1))


def loop_win_ini_chain(image, offset, work):
    """WIN.INI's first cluster points at itself."""
    layout, cluster = fat_layout(image, offset), first_cluster(image, offset, "WINDOWS/WIN.INI")
    width = layout["bits"] // 8
    for k in range(layout["fats"]):
        patch(image, layout["fat"] + k * layout["fat_bytes"] + cluster * width, cluster.to_bytes(width, "little"))


def win_ini_claims_more(image, offset, work):
    """WIN.INI's directory entry claims 100000 bytes; its chain holds one cluster."""
    data = open(image, "rb").read()
    at = data.find(b"WIN     INI", offset)
    while at >= 0 and (at - offset) % 32:
        at = data.find(b"WIN     INI", at + 1)
    patch(image, at + 28, (100000).to_bytes(4, "little"))


def fill_volume(image, offset, work):
    """A file takes all the room but a few bytes."""
    out = mtools("mdir", image, offset, "-a", "::/").stdout.decode()
    free = int(re.search(r"([\d ]+) bytes free", out).group(1).replace(" ", ""))
    filler = os.path.join(work, "filler")
    with open(filler, "wb") as f:
        f.truncate(free - 2048)
    mtools("mcopy", image, offset, filler, "::/FILLER.BIN")


def cut_in_half(image, offset, work):
    os.truncate(image, os.path.getsize(image) // 2)


def empty(image, offset, work):
    os.truncate(image, 0)


def partition_past_end(image, offset, work):
    """The first partition's length runs 1000 sectors past the file."""
    sectors = (os.path.getsize(image) // SECTOR) - 63 + 1000
    patch(image, 446 + 12, sectors.to_bytes(4, "little"))


def looping_extended_table(image, offset, work):
    """The extended boot record's link points back at itself."""
    patch(image, 63 * SECTOR + 446 + 16, bytes([0, 0xfe, 0xff, 0xff, 0x05, 0xfe, 0xff, 0xff]) +
          (0).to_bytes(4, "little") + (100).to_bytes(4, "little"))


def read_only_file(image, offset, work):
    os.chmod(image, 0o444)


def qcow2(image, offset, work):
    os.unlink(image)
    subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", image, "64M"], check=True)


EX = rd.CASES["example_drive"]
IMAGE_CASES = {
    # The example drive in each kind of image the program accepts.
    "fat16_lba63": example(),
    "fat32": example(fat=32),
    "logical": example(layout="logical"),
    "superfloppy": example(layout="superfloppy"),
    "fixed_vhd": example(layout="vhd"),
    # Two partitions holding Windows: the active one (the second) is used,
    # unless WIN9X_PARTITION names the first.
    "active_second": example(layout="two", untouched_volume=63 * SECTOR),
    "partition_named": example(layout="two", env={"WIN9X_PARTITION": "1"}, untouched_volume="second"),
    # The rules of the drive folder inside an image.
    "letter_case": from_drive_case("letter_case"),
    "windir_named": from_drive_case("windir_named"),
    "no_win_ini": from_drive_case("no_win_ini"),
    "enumeration_order": from_drive_case("enumeration_order", fat=32),
    "windows_95": from_drive_case("windows_95"),
    "no_windows_folder": from_drive_case("no_windows_folder"),
    "no_system_dat": from_drive_case("no_system_dat"),
    "system_dat_not_creg": from_drive_case("system_dat_not_creg"),
    "nt_drive": from_drive_case("nt_drive"),
    "read_only_attribute": from_drive_case("read_only_win_ini"),
    # SYSTEM.DAT is read through a copy that is never a file on disk.
    "no_temporary_folder": example(env={"TMPDIR": "/nonexistent"}),
    # Bad input: one line naming the image and the reason, the failure
    # report, the image byte for byte as it was.
    "empty_image": example(report=FAILURE, err="is empty (0 bytes)", damage=empty),
    "cut_inside_volume": example(layout="superfloppy", report=FAILURE, err="is cut", damage=cut_in_half),
    "partition_past_end": example(report=FAILURE, err="past the end", damage=partition_past_end),
    "looping_extended_table": example(layout="logical", report=FAILURE, err="loops", damage=looping_extended_table),
    "looping_fat_chain": example(report=FAILURE, err="cannot be read whole", damage=loop_win_ini_chain),
    "win_ini_claims_more": example(report=FAILURE, err="cannot be read whole", damage=win_ini_claims_more),
    "no_write_permission": example(report=FAILURE, err="no write permission", damage=read_only_file),
    "fat_full": example(report=FAILURE, err="has no room for the new WIN.INI", damage=fill_volume),
    "qcow2": example(report=FAILURE, err="qemu-img convert -O raw", damage=qcow2),
    "partition_not_a_number": example(report=FAILURE, err="WIN9X_PARTITION must be",
                                      env={"WIN9X_PARTITION": "C"}),
    "partition_missing": example(report=FAILURE, err="has no partition 3", env={"WIN9X_PARTITION": "3"}),
    "no_mtools": example(report=FAILURE, err="needs mtools (apt-get install mtools)", env={"PATH": "/nonexistent"}),
}


def run_image_case(name, work):
    c = IMAGE_CASES[name]
    image, offset = make_image(work, c.files, c.layout, c.fat, c.size, modes=c.modes)
    second = None
    if c.layout == "two":
        second = offset
        offset = 63 * SECTOR if c.untouched_volume == "second" else second
        other = second if c.untouched_volume == "second" else 63 * SECTOR
    size = volume_size(image, offset)
    before = read_in_image(image, offset, c.win_ini_path)
    if c.damage:
        c.damage(image, offset, work)
    snapshot = open(image, "rb").read()
    before_run = read_in_image(image, offset, c.win_ini_path)
    other_before = read_in_image(image, other, c.win_ini_path) if second else None
    kit = write_kit(work, c.kit)
    env = environment(work, image, c.env)
    problems = []
    # The preview first: the report's exit code, the image unchanged.
    preview_status, preview, _ = run_program(kit, env, args=["--dry-run"])
    if preview_status != (0 if c.report == SUCCESS else 1) or open(image, "rb").read() != snapshot:
        problems.append("--dry-run ended with %d and %s the image" %
                        (preview_status, "left" if open(image, "rb").read() == snapshot else "changed"))
    status, out, err = run_program(kit, env)
    if status != 1:
        problems.append("exit code %d, not 1" % status)
    if c.report not in out:
        problems.append("the report %r was not shown" % c.report)
    err_lines = [line for line in err.splitlines() if line.strip()]
    if c.err is None and err_lines:
        problems.append("standard error holds %r" % err_lines)
    if c.err is not None and not (len(err_lines) == 1 and c.err in err_lines[0] and "pfmsetup:" in err_lines[0] and
                                  (image in err_lines[0] or "mtools" in c.err)):
        problems.append("standard error is %r, not one line naming the image with %r" % (err_lines, c.err))
    expected = c.expect(before) if callable(c.expect) else c.expect
    if c.report == FAILURE or expected is None:
        if open(image, "rb").read() != snapshot:
            problems.append("the image changed")
    else:
        after = read_in_image(image, offset, c.win_ini_path)
        if after != expected:
            problems.append("WIN.INI is\n%r\nnot\n%r" % (after, expected))
        fsck = fsck_problems(image, offset, size)
        if fsck:
            problems.append("fsck.fat -n: " + fsck)
        listing = mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode()
        if "$$" in listing:
            problems.append("temporary files left: %r" % listing)
        for path, data in c.files.items():
            if path != c.win_ini_path and read_in_image(image, offset, path) != data:
                problems.append("%s changed" % path)
    if second and read_in_image(image, other, c.win_ini_path) != other_before:
        problems.append("the WIN.INI of the other partition changed")
    # The undo puts back WIN.INI as it was; the diff was what the run wrote.
    problems += rd.check_undo(c, lambda: read_in_image(image, offset, c.win_ini_path), lambda: None, before_run,
                              read_in_image(image, offset, c.win_ini_path), preview,
                              lambda *args: run_program(kit, env, args=args))
    return report(name, problems, out, err)


def report(name, problems, out="", err=""):
    if problems:
        print("case %s:\n  %s\n--- output\n%s--- error\n%s" % (name, "\n  ".join(problems), out, err))
        return 1
    print("case %s: passed" % name)
    return 0


# ---------------------------------------------------------------- kills

SHIM = """#!/bin/sh
# Counts the mtools children of the program and kills it at one of them.
n=$(($(cat "$SHIM_DIR/count") + 1)); echo $n > "$SHIM_DIR/count"
if [ "$n" = "$KILL_AT" ] && [ "$KILL_WHEN" = before ]; then kill -9 $PPID; exit 1; fi
"$SHIM_REAL/$(basename "$0")" "$@"; status=$?
if [ "$n" = "$KILL_AT" ]; then kill -9 $PPID; fi
exit $status
"""
TOOLS = ["mcopy", "mtype", "mdir", "mren", "mdel", "mattrib", "mshowfat", "minfo"]

NO_PRINTER_KIT = rd.KIT.replace(b"Model1=Kit PS", b"Model1=Nothing PS").replace(b"Model2=Other PS", b"Model2=None PS")


def shim_dir(work):
    folder = os.path.join(work, "shim")
    os.makedirs(folder, exist_ok=True)
    for tool in TOOLS:
        path = os.path.join(folder, tool)
        with open(path, "w") as f:
            f.write(SHIM)
        os.chmod(path, 0o755)
    return folder


def check_after_kill(image, offset, size, work, old, new, what):
    """The next run (with a kit that writes nothing) repairs; WIN.INI is then
    the old or the new file, whole, and the volume clean."""
    kit = write_kit(os.path.join(work, "repair"), NO_PRINTER_KIT)
    problems = []
    # The preview says what the repair would do, and changes nothing (once
    # an mtools child that outlived the kill has let the image go).
    wait_for(lambda: not locked(image))
    if "$$" in mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode():
        snapshot = open(image, "rb").read()
        _, out, err = run_program(kit, environment(work, image), args=["--dry-run"])
        if "the run would first repair it" not in out or open(image, "rb").read() != snapshot:
            problems.append("%s: --dry-run on the killed run's files: %r %r" % (what, out[-300:], err))
    status, out, err = run_program(kit, environment(work, image))
    if FAILURE not in out:
        problems.append("%s: the repairing run did not end with the failure report: %s" % (what, err))
    now = read_in_image(image, offset, "WINDOWS/WIN.INI")
    if now not in (old, new):
        problems.append("%s: WIN.INI is neither the old nor the new file: %r" % (what, now))
    fsck = fsck_problems(image, offset, size)
    if fsck:
        problems.append("%s: fsck.fat -n: %s" % (what, fsck))
    listing = mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode()
    if "$$" in listing:
        problems.append("%s: temporary files left after the repair: %r" % (what, listing))
    return problems, now == new


def kill_test(work):
    files = EX.files
    pristine, offset = make_image(work, files, name="pristine.img")
    size = volume_size(pristine, offset)
    old = read_in_image(pristine, offset, "WINDOWS/WIN.INI")
    new = EX.expect_win_ini(old)
    shim = shim_dir(work)
    kit = write_kit(work, EX.kit)
    real = os.path.dirname(shutil.which("mcopy"))

    def killed_run(at, when):
        image = os.path.join(work, "disk.img")
        shutil.copy(pristine, image)
        with open(os.path.join(shim, "count"), "w") as f:
            f.write("0")
        env = environment(work, image, {"PATH": shim + ":" + os.environ["PATH"], "SHIM_DIR": shim,
                                        "SHIM_REAL": real, "KILL_AT": str(at), "KILL_WHEN": when})
        p = subprocess.run([PROGRAM], input=b"ok\nok\n", cwd=kit, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
        return image, p.returncode, int(open(os.path.join(shim, "count")).read())

    _, status, children = killed_run(0, "never")
    problems = [] if status == 1 else ["the run without a kill ended with %d" % status]
    kills = news = 0
    for at in range(1, children + 1):
        for when in ("before", "after"):
            image, status, _ = killed_run(at, when)
            if status != -signal.SIGKILL:
                problems.append("not killed at child %d (%s): %d" % (at, when, status))
                continue
            kills += 1
            found, is_new = check_after_kill(image, offset, size, work, old, new, "killed %s child %d" % (when, at))
            problems += found
            news += is_new
    # Timed kills, also while an mtools child is writing (it finishes its
    # step holding the image lock; the next run waits for it).
    run_time = 0.3
    for k in range(12):
        image = os.path.join(work, "disk.img")
        shutil.copy(pristine, image)
        p = subprocess.Popen([PROGRAM], stdin=subprocess.PIPE, cwd=kit, env=environment(work, image),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        p.stdin.write(b"ok\nok\n")
        p.stdin.flush()
        time.sleep(run_time * k / 12)
        p.kill()
        p.wait()
        found, is_new = check_after_kill(image, offset, size, work, old, new, "killed after %.3f s" % (run_time * k / 12))
        problems += found
        news += is_new
        kills += 1
    print("%d kills over %d mtools children: %d left the new WIN.INI" % (kills, children, news))
    if news == 0 or news == kills:
        problems.append("the kills did not fall both before and after the new WIN.INI was in place")
    return report("kill", problems)


# ---------------------------------------------------------------- in use, two copies

def wait_for(condition, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


def locked(image):
    inode = os.stat(image).st_ino
    return any((":%d " % inode) in line for line in open("/proc/locks"))


def in_use_test(work):
    qemu = shutil.which("qemu-system-i386")
    if not qemu:
        print("case in_use: skipped (no qemu-system-i386)")
        return 77
    image, offset = make_image(work, EX.files)
    kit = write_kit(work, EX.kit)
    problems = []
    # QEMU holds the image: the program refuses it, writing nothing.
    vm = subprocess.Popen([qemu, "-nodefaults", "-display", "none", "-S", "-drive", "file=%s,format=raw" % image],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        if not wait_for(lambda: locked(image)):
            problems.append("QEMU took no lock on the image")
        snapshot = open(image, "rb").read()
        for args in ((), ("--dry-run",), ("--undo",)):
            status, out, err = run_program(kit, environment(work, image), args=args)
            lines = [line for line in err.splitlines() if line.strip()]
            if not (status == 1 and len(lines) == 1 and "the image is in use" in lines[0]):
                problems.append("%s with QEMU running: %r %r" % (args, lines, out[-200:]))
        if open(image, "rb").read() != snapshot:
            problems.append("the image changed while QEMU held it")
    finally:
        vm.kill()
        vm.wait()
    # The program holds the image (it waits at its first box): QEMU refuses
    # to start; the program then lands.
    p = subprocess.Popen([PROGRAM], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=kit,
                         env=environment(work, image))
    try:
        if not wait_for(lambda: locked(image)):
            problems.append("the program took no lock on the image")
        vm = subprocess.run([qemu, "-nodefaults", "-display", "none", "-S", "-drive", "file=%s,format=raw" % image],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=30)
        if vm.returncode == 0 or b"lock" not in vm.stderr:
            problems.append("QEMU started on the image the program holds: %r" % vm.stderr)
    finally:
        out, err = p.communicate(b"ok\nok\n", timeout=120)
    if SUCCESS not in out.decode() or read_in_image(image, offset, "WINDOWS/WIN.INI") != EX.expect_win_ini(
            read_in_image(make_image(os.path.join(work, "fresh"), EX.files)[0], offset, "WINDOWS/WIN.INI")):
        problems.append("the program did not land after QEMU was refused: %s" % err.decode())
    return report("in_use", problems)


def two_copies_test(work):
    """Two copies of the program, each with a kit of its own, on one image
    at once: the second waits for the first, and both land."""
    reg = rd.printers(("Office", "Kit PS", "LPT1:"), ("Lab", "Other PS", "LPT2:"))
    files = rd.drive98(reg, extra={"WINDOWS/SYSTEM/THREE___.PFM": b"PFM"})
    image, offset = make_image(work, files)
    size = volume_size(image, offset)
    kit_a = rd.KIT.replace(b"Model2=Other PS", b"Model2=Kit PS")
    kit_b = rd.KIT.replace(b"Model1=Kit PS", b"Model1=Other PS").replace(b"softfont1=ONE_____.PFM",
                                                                       b"softfont1=THREE___.PFM")
    kits = [write_kit(os.path.join(work, "a"), kit_a), write_kit(os.path.join(work, "b"), kit_b)]
    procs = [subprocess.Popen([PROGRAM], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=k, env=environment(work, image)) for k in kits]
    # Both copies get their answers at once: either may take the image first,
    # and the other waits for it, so answering them in turn could wait for ever.
    for p in procs:
        p.stdin.write(b"ok\nok\n")
        p.stdin.flush()
    outs = [p.communicate(timeout=300) for p in procs]
    problems = []
    for (out, err), p in zip(outs, procs):
        if p.returncode != 1 or SUCCESS not in out.decode() or err.strip():
            problems.append("a copy ended with %d: %s" % (p.returncode, err.decode()))
    text = read_in_image(image, offset, "WINDOWS/WIN.INI") or b""
    for wanted in (b"[PostScript,LPT1]\r\nSoftfonts=2\r\nsoftfont1=C:\\WINDOWS\\SYSTEM\\ONE_____.PFM",
                   b"[PostScript,LPT2]\r\nSoftfonts=2\r\nsoftfont1=C:\\WINDOWS\\SYSTEM\\THREE___.PFM"):
        if wanted not in text:
            problems.append("WIN.INI lacks %r:\n%r" % (wanted, text))
    fsck = fsck_problems(image, offset, size)
    if fsck:
        problems.append("fsck.fat -n: " + fsck)
    return report("two_copies", problems)


SPECIAL = {"kill": kill_test, "in_use": in_use_test, "two_copies": two_copies_test}
PROGRAM = None


def main():
    global PROGRAM
    parser = argparse.ArgumentParser()
    parser.add_argument("--program")
    parser.add_argument("--case")
    parser.add_argument("--work")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    if args.list:
        print(";".join(sorted(IMAGE_CASES) + sorted(SPECIAL)))
        return 0
    PROGRAM = os.path.abspath(args.program)
    work = args.work or tempfile.mkdtemp(prefix="pfmimg-")
    if os.path.isdir(work):
        subprocess.run(["chmod", "-R", "u+w", work])
        shutil.rmtree(work)
    os.makedirs(work)
    status = SPECIAL[args.case](work) if args.case in SPECIAL else run_image_case(args.case, work)
    if status == 0:
        shutil.rmtree(work, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
