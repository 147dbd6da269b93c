#!/usr/bin/env python3
"""Whole runs of the host program on disk images of Windows 95/98/Me drives.

The drives of run_drive.py are put into images made at test time with
examples/make-image.sh (an MBR, mkfs.fat --offset, mcopy): FAT16 at sector
63, FAT32 of type 0x0C, a logical partition, a superfloppy, a fixed VHD, an
image whose active partition is not the first, WIN9X_PARTITION naming
another. Each case runs the program with WIN9X_DRIVE naming the image and
checks the exit code, the report, standard error, WIN.INI's exact text read
back with mtype and with 7-Zip (7zz, its own MBR and FAT code), `fsck.fat -n` on the partition's bytes after a run that
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
    """The tool on the image given by descriptor, whatever its path holds."""
    fd = os.open(image, os.O_RDWR if os.access(image, os.W_OK) else os.O_RDONLY)
    try:
        r = subprocess.run([tool, "-i", "/proc/self/fd/%d@@%d" % (fd, offset)] + list(args), env=MTOOLS_ENV,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, pass_fds=(fd,))
    finally:
        os.close(fd)
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


def seven_zip(image, offset, size, path, whole=True):
    """A file read back by 7-Zip, a judge with its own MBR and FAT code: from
    the whole image, or (whole=False, for an image whose first FAT volume is
    not the one meant) from a copy of the volume's bytes. None when absent."""
    if not shutil.which("7zz"):
        raise SystemExit("7zz is missing (scripts/install-deps.sh image installs 7zip)")
    source = image
    if not whole:
        source = image + ".7z-volume"
        with open(image, "rb") as f, open(source, "wb") as out:
            f.seek(offset)
            out.write(f.read(size))
    r = subprocess.run(["7zz", "x", "-so", "-ssc-", source, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if source != image:
        os.unlink(source)
    return r.stdout if r.returncode == 0 and b"No files to process" not in r.stderr + r.stdout else None


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


def write_kit(work, kit=None, name="kit"):
    folder = os.path.join(work, name)
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
                 untouched_volume=None, image_name="disk.img", kit_name="kit"):
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
        self.image_name, self.kit_name = image_name, kit_name  # paths below the work folder
        self.encoding, self.undo_err = "latin-1", None


def from_drive_case(name, **kw):
    c = rd.CASES[name]
    return ImageCase(c.files, c.expect_win_ini, c.report, c.err, win_ini_path=c.win_ini_path, modes=c.modes,
                     kit=c.kit, **kw)


def example(expect=None, **kw):
    c = rd.CASES["example_drive"]
    fonts = {"WINDOWS/SYSTEM/" + f.decode(): b"PFM" for f in rd.EXAMPLE_FONTS}
    return ImageCase(dict(c.files, **fonts), expect or c.expect_win_ini, kit=c.kit, **kw)


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


def fill_volume(image, offset, work, left=2048):
    """A file takes all the room but a few bytes."""
    out = mtools("mdir", image, offset, "-a", "::/").stdout.decode()
    free = int(re.search(r"([\d ]+) bytes free", out).group(1).replace(" ", ""))
    filler = os.path.join(work, "filler")
    with open(filler, "wb") as f:
        f.truncate(free - left)
    mtools("mcopy", image, offset, filler, "::/FILLER.BIN")


def set_free_count_hint(count):
    """FSInfo's free-cluster count set to `count`, as a crash leaves it stale."""
    def damage(image, offset, work):
        with open(image, "rb") as f:
            f.seek(offset + 48)
            fsinfo = int.from_bytes(f.read(2), "little")
        patch(image, offset + fsinfo * SECTOR + 488, count.to_bytes(4, "little"))
    return damage


def full_with_stale_hint(image, offset, work):
    fill_volume(image, offset, work, left=512)
    set_free_count_hint(50000)(image, offset, work)


def old_boot_record(image, offset, work):
    """The first sector keeps a FAT boot sector's header from the disk's life
    as a bare volume; the partition table is written over its end."""
    with open(image, "rb") as f:
        f.seek(offset)
        header = f.read(446)
    patch(image, 0, header)


def attributes(image, offset, path):
    out = mtools("mattrib", image, offset, "::/" + path, check=False).stdout.decode()
    return "".join(sorted(set(out.split("::/")[0]) & set("RHSA")))


def set_attributes(*changes):
    def damage(image, offset, work):
        mtools("mattrib", image, offset, *changes, "::/WINDOWS/WIN.INI")
    return damage


def windows_on(letter):
    """Partition 1 made the active C: holding only MSDOS.SYS, which names
    LETTER:\\WINDOWS; partition 2 (D:) holds Windows without MSDOS.SYS."""
    def damage(image, offset, work):
        first = 63 * SECTOR
        mtools("mdeltree", image, first, "::/WINDOWS")
        msdos = os.path.join(work, "MSDOS.SYS")
        with open(msdos, "wb") as f:
            f.write(rd.MSDOS_SYS.replace(b"WinDir=C:", b"WinDir=%s:" % letter.encode()))
        mtools("mcopy", image, first, "-o", msdos, "::/MSDOS.SYS")
        mtools("mdel", image, offset, "::/MSDOS.SYS")
        patch(image, 446, b"\x80")
        patch(image, 446 + 16, b"\x00")
    return damage


def on_d(before):
    return before + EX.expect_win_ini(before)[len(before):].replace(b"C:\\WINDOWS", b"D:\\WINDOWS")


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


def user_file(path, text):
    """A file of the user's (below the work folder) that the run must not heed."""
    return lambda image, offset, work: rd.make_drive(work, {path: text.encode()}, {path: 0o755})


# The user's own mtools settings, each of which changes what mtools prints,
# writes or checks; a run under any of them writes what a clean run writes.
HOSTILE_MTOOLS = {"MTOOLS_DATE_STRING": "dd-mm-yyyy", "MTOOLS_TWENTY_FOUR_HOUR_CLOCK": "0",
                  "MTOOLS_LOWER_CASE": "1", "MTOOLS_NO_VFAT": "1", "MTOOLS_DOTTED_DIR": "1",
                  "MTOOLS_NAME_NUMERIC_TAIL": "0", "MTOOLS_SKIP_CHECK": "0", "MTOOLS_FAT_COMPATIBILITY": "1",
                  "MTOOLS_LOCK_TIMEOUT": "0", "DEFAULT_CODEPAGE": "437"}
HOSTILE_RC = "".join('%s="%s"\n' % kv for kv in HOSTILE_MTOOLS.items())
# An mdir that prints a line no listing holds.
ODD_MDIR = '#!/bin/sh\nPATH="$REAL_PATH" mdir "$@"; s=$?; echo "  something new  "; exit $s\n'

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
    # A boot sector's header left under a valid partition table: the table wins.
    "old_boot_record": example(damage=old_boot_record),
    "old_boot_record_partition_named": example(fat=32, damage=old_boot_record, env={"WIN9X_PARTITION": "1"}),
    # Windows on D: (MSDOS.SYS of the active C: names D:\WINDOWS): followed,
    # every path registered on D:; a letter no partition has is refused.
    "windows_on_d": example(layout="two", damage=windows_on("D"), expect=on_d),
    "windows_on_d_partition_named": example(layout="two", damage=windows_on("D"), expect=on_d,
                                            env={"WIN9X_PARTITION": "2"}),
    "windows_on_d_partition_1": example(layout="two", damage=windows_on("D"), expect=on_d,
                                        env={"WIN9X_PARTITION": "1"}),
    "windows_on_missing_drive": example(layout="two", damage=windows_on("E"), report=FAILURE, err="has no drive E:"),
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
    "win_ini_at_limit": from_drive_case("win_ini_at_limit"),
    "win_ini_above_limit": from_drive_case("win_ini_above_limit"),
    "win_ini_already_above": from_drive_case("win_ini_already_above"),
    "model_count_plus": from_drive_case("model_count_plus"),
    "win_ini_ends_blank": from_drive_case("win_ini_ends_blank"),
    # SYSTEM.DAT is read through a copy that is never a file on disk.
    "no_temporary_folder": example(env={"TMPDIR": "/nonexistent"}),
    # The new WIN.INI keeps the old one's hidden, system and archive attributes.
    "hidden_system_win_ini": example(damage=set_attributes("+h", "+s", "-a")),
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
    # A stale free-count hint: room is counted in the FAT, and the hint mended.
    "stale_free_count_low": example(fat=32, damage=set_free_count_hint(1)),
    "stale_free_count_high": example(fat=32, report=FAILURE, err="has no room for the new WIN.INI",
                                     damage=full_with_stale_hint),
    "qcow2": example(report=FAILURE, err="qemu-img convert -O raw", damage=qcow2),
    "partition_not_a_number": example(report=FAILURE, err="WIN9X_PARTITION must be",
                                      env={"WIN9X_PARTITION": "C"}),
    "partition_missing": example(report=FAILURE, err="has no partition 3", env={"WIN9X_PARTITION": "3"}),
    # The user's mtools settings are not the program's.
    "mtoolsrc": example(env={"HOME": "{work}/home"}, damage=user_file("home/.mtoolsrc", HOSTILE_RC)),
    "mtoolsrc_named": example(env={"MTOOLSRC": "{work}/rc"}, damage=user_file("rc", HOSTILE_RC)),
    "mdir_prints_odd_line": example(report=FAILURE, err='printed a line this program cannot read: "  something new  "',
                                    env={"PATH": "{work}/odd:/usr/bin:/bin", "REAL_PATH": os.environ["PATH"]},
                                    damage=user_file("odd/mdir", ODD_MDIR)),
    # Any character in the image's path and the kit's: a volume at "v m"
    # is what mtools would write if it were given "v m@@0/..." itself.
    "path_characters": example(image_name="v m@@0/a:b é/disk.img", kit_name="k@@1 ü/kit",
                               damage=user_file("v m", "not a volume")),
    # A kit folder that this Windows could not name: the line says so.
    "kit_folder_cyrillic": example(kit_name="Загрузки", report=FAILURE, err="(code page 1252) cannot hold"),
    "kit_folder_colon": example(kit_name="a:b", report=FAILURE, err="(code page 1252) cannot hold"),
    "no_mtools": example(report=FAILURE, err="needs mtools (apt-get install mtools)", env={"PATH": "/nonexistent"}),
}


for _name, _value in HOSTILE_MTOOLS.items():
    IMAGE_CASES["mtools_env_" + _name] = example(env={_name: _value})


def run_image_case(name, work):
    c = IMAGE_CASES[name]
    image, offset = make_image(work, c.files, c.layout, c.fat, c.size, modes=c.modes)
    if c.image_name != "disk.img":
        os.makedirs(os.path.dirname(os.path.join(work, c.image_name)), exist_ok=True)
        image = shutil.move(image, os.path.join(work, c.image_name))
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
    beside = {n: open(os.path.join(work, n), "rb").read() for n in os.listdir(work)
              if os.path.isfile(os.path.join(work, n)) and os.path.join(work, n) != image}
    files_before = {path: read_in_image(image, offset, path) for path in c.files if path != c.win_ini_path}
    attributes_before = attributes(image, offset, c.win_ini_path) if before is not None else "A"
    before_run = read_in_image(image, offset, c.win_ini_path)
    other_before = read_in_image(image, other, c.win_ini_path) if second else None
    kit = write_kit(work, c.kit, c.kit_name)
    env = environment(work, image, {k: v.replace("{work}", work) for k, v in c.env.items()})
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
                                  (image in err_lines[0] or "mtools" in c.err or kit in err_lines[0])):
        problems.append("standard error is %r, not one line naming the image with %r" % (err_lines, c.err))
    expected = c.expect(before) if callable(c.expect) else c.expect
    if c.report == FAILURE or expected is None:
        if open(image, "rb").read() != snapshot:
            problems.append("the image changed")
    else:
        after = read_in_image(image, offset, c.win_ini_path)
        if after != expected:
            problems.append("WIN.INI is\n%r\nnot\n%r" % (after, expected))
        judged = seven_zip(image, offset, size, c.win_ini_path, whole=c.layout != "two")
        if judged != expected:
            problems.append("7-Zip reads WIN.INI as\n%r" % judged)
        if attributes(image, offset, c.win_ini_path) != attributes_before:
            problems.append("WIN.INI's attributes are %r, not %r" % (attributes(image, offset, c.win_ini_path),
                                                                     attributes_before))
        fsck = fsck_problems(image, offset, size)
        if fsck:
            problems.append("fsck.fat -n: " + fsck)
        listing = mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode()
        if "$$" in listing:
            problems.append("temporary files left: %r" % listing)
        for path, data in files_before.items():
            if read_in_image(image, offset, path) != data:
                problems.append("%s changed" % path)
    for n, data in beside.items():
        if open(os.path.join(work, n), "rb").read() != data:
            problems.append("%s beside the image changed" % n)
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
# Counts the mtools children of the program and kills it (KILL_WHO=program)
# or the child itself (KILL_WHO=child) at one of them.
n=$(($(cat "$SHIM_DIR/count") + 1)); echo $n > "$SHIM_DIR/count"
victim=$PPID; [ "$KILL_WHO" = child ] && victim=$$
if [ "$n" = "$KILL_AT" ] && [ "$KILL_WHEN" = before ]; then kill -${KILL_SIGNAL:-9} $victim; exit 1; fi
"$SHIM_REAL/$(basename "$0")" "$@"; status=$?
if [ "$n" = "$KILL_AT" ]; then kill -${KILL_SIGNAL:-9} $victim; fi
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
    problems += judge_volume(image, offset, size, (old, new), what + ", then repaired")
    return problems, read_in_image(image, offset, "WINDOWS/WIN.INI") == new


def judge_volume(image, offset, size, allowed, what):
    """fsck.fat -n clean, no temporary file, WIN.INI one of `allowed`."""
    problems = []
    now = read_in_image(image, offset, "WINDOWS/WIN.INI")
    if now not in allowed:
        problems.append("%s: WIN.INI is %r" % (what, now))
    judged = seven_zip(image, offset, size, "WINDOWS/WIN.INI")
    if judged != now:
        problems.append("%s: 7-Zip reads WIN.INI as %r" % (what, judged))
    fsck = fsck_problems(image, offset, size)
    if fsck:
        problems.append("%s: fsck.fat -n: %s" % (what, fsck))
    listing = mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode()
    if "$$" in listing:
        problems.append("%s: temporary files left: %r" % (what, listing))
    return problems


def kill_test(work):
    # The kit's font files on the drive, so that a run that lands says nothing.
    files = dict(EX.files, **{"WINDOWS/SYSTEM/" + f.decode(): b"PFM" for f in rd.EXAMPLE_FONTS})
    pristine, offset = make_image(work, files, name="pristine.img")
    size = volume_size(pristine, offset)
    old = read_in_image(pristine, offset, "WINDOWS/WIN.INI")
    new = EX.expect_win_ini(old)
    shim = shim_dir(work)
    kit = write_kit(work, EX.kit)
    real = os.path.dirname(shutil.which("mcopy"))

    def killed_run(at, when, who="program", signal_name="9"):
        image = os.path.join(work, "disk.img")
        shutil.copy(pristine, image)
        with open(os.path.join(shim, "count"), "w") as f:
            f.write("0")
        env = environment(work, image, {"PATH": shim + ":" + os.environ["PATH"], "SHIM_DIR": shim,
                                        "SHIM_REAL": real, "KILL_AT": str(at), "KILL_WHEN": when,
                                        "KILL_WHO": who, "KILL_SIGNAL": signal_name})
        p = subprocess.run([PROGRAM], input=b"ok\nok\n", cwd=kit, env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=300)
        killed_run.out, killed_run.err = p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")
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
    # One child killed, the program going on: the report says success only
    # with the new WIN.INI whole, failure only with the old one, and names
    # the child that died; the volume is clean.
    child_kills = {SUCCESS: 0, FAILURE: 0}
    for at in range(1, children + 1):
        for when in ("before", "after"):
            image, status, _ = killed_run(at, when, "child")
            out, err, what = killed_run.out, killed_run.err, "child %d killed %s its work" % (at, when)
            now = read_in_image(image, offset, "WINDOWS/WIN.INI")
            lines = [line for line in err.splitlines() if line.strip()]
            # After a success, only a child of a later listing may have died:
            # it is named, and the line says WIN.INI was replaced.
            if SUCCESS in out and (now != new or any("had already been replaced, whole" not in l for l in lines)):
                problems.append("%s: success reported, WIN.INI %r, standard error %r" % (what, now, lines))
            elif FAILURE in out and (now != old or len(lines) != 1 or "killed by signal 9" not in lines[0]):
                problems.append("%s: failure reported, WIN.INI %r, standard error %r" % (what, now, lines))
            elif status != 1 or not (SUCCESS in out or FAILURE in out):
                problems.append("%s: exit code %d, report %r" % (what, status, out[-200:]))
            child_kills[SUCCESS if SUCCESS in out else FAILURE] += 1
            problems += judge_volume(image, offset, size, (old, new), what)
    print("%d children killed: %d runs reported success, %d failure" %
          (2 * children, child_kills[SUCCESS], child_kills[FAILURE]))
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
    # Ctrl-C, a closed terminal, kill, Ctrl-\ after each child: the
    # replacement, once begun, is finished before the signal ends the run,
    # so WIN.INI is whole with nothing left to repair.
    for at, name in [(at, "INT") for at in range(1, children + 1)] + [(children - 2, n) for n in ("TERM", "HUP", "QUIT")]:
        image, status, _ = killed_run(at, "after", signal_name=name)
        listing = mtools("mdir", image, offset, "-b", "::/WINDOWS", check=False).stdout.decode()
        if status != -getattr(signal, "SIG" + name) or read_in_image(image, offset, "WINDOWS/WIN.INI") not in (
                old, new) or "$$" in listing:
            problems.append("SIG%s after child %d: exit %d, WINDOWS holds %r" % (name, at, status, listing))
    print("%d kills over %d mtools children: %d left the new WIN.INI" % (kills, children, news))
    if news == 0 or news == kills:
        problems.append("the kills did not fall both before and after the new WIN.INI was in place")
    return report("kill", problems)


# ---------------------------------------------------------------- crash points

RECORDER = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
/* Every write to the image (by its inode), in order: offset, length, bytes. */
static void record(int fd, off_t at, const void *buf, ssize_t n)
{
    const char *ino = getenv("CRASH_IMAGE_INO"), *log = getenv("CRASH_LOG");
    struct stat st;
    if (n <= 0 || at < 0 || !ino || !log || fstat(fd, &st) || st.st_ino != strtoull(ino, 0, 10)) return;
    int out = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    uint64_t head[2] = {(uint64_t)at, (uint64_t)n};
    char *rec = malloc(16 + n);
    memcpy(rec, head, 16);
    memcpy(rec + 16, buf, n);
    syscall(SYS_write, out, rec, 16 + n);
    free(rec);
    close(out);
}
ssize_t write(int fd, const void *buf, size_t n)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real) real = dlsym(RTLD_NEXT, "write");
    off_t at = lseek(fd, 0, SEEK_CUR);
    ssize_t done = real(fd, buf, n);
    record(fd, at, buf, done);
    return done;
}
ssize_t pwrite64(int fd, const void *buf, size_t n, off_t at)
{
    static ssize_t (*real)(int, const void *, size_t, off_t);
    if (!real) real = dlsym(RTLD_NEXT, "pwrite64");
    ssize_t done = real(fd, buf, n, at);
    record(fd, at, buf, done);
    return done;
}
ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) { return pwrite64(fd, buf, n, at); }
"""
PAGE = 4096


def record_writes(work, pristine, kit):
    """One whole run's writes to the image: [(offset, bytes)] in order."""
    source = os.path.join(work, "recorder.c")
    library = os.path.join(work, "recorder.so")
    with open(source, "w") as f:
        f.write(RECORDER)
    subprocess.run(["gcc", "-shared", "-fPIC", "-O1", "-o", library, source, "-ldl"], check=True)
    image, log = os.path.join(work, "recorded.img"), os.path.join(work, "writes.log")
    shutil.copy(pristine, image)
    # The recorder is preloaded into the program too; a sanitizer build of
    # the program is told that it need not come first.
    asan = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "verify_asan_link_order=0"]))
    env = environment(work, image, {"LD_PRELOAD": library, "CRASH_LOG": log, "ASAN_OPTIONS": asan,
                                    "CRASH_IMAGE_INO": str(os.stat(image).st_ino)})
    status, out, err = run_program(kit, env)
    if SUCCESS not in out:
        raise SystemExit("the recorded run failed: " + err)
    data, writes, at = open(log, "rb").read(), [], 0
    while at < len(data):
        offset, length = int.from_bytes(data[at:at + 8], "little"), int.from_bytes(data[at + 8:at + 16], "little")
        writes.append((offset, data[at + 16:at + 16 + length]))
        at += 16 + length
    if open(image, "rb").read() != replay(pristine, writes, len(writes), None, os.path.join(work, "check.img")):
        raise SystemExit("the recorded writes do not make the image the run made")
    return writes


def replay(pristine, writes, count, cut, target):
    """The pristine image with the first `count` writes, and the next one
    cut after `cut` bytes (None: not at all)."""
    data = bytearray(open(pristine, "rb").read())
    for offset, chunk in writes[:count] + ([(writes[count][0], writes[count][1][:cut])] if cut else []):
        data[offset:offset + len(chunk)] = chunk
    with open(target, "wb") as f:
        f.write(data)
    return bytes(data)


def over_free_clusters(image, offset, path):
    """Whether the file's folder entry names a first cluster that both FATs
    mark free (where the FATs differ, which is right is ScanDisk's to say)."""
    r = mtools("mshowfat", image, offset, "::/" + path, check=False)
    first = re.search(rb"<(\d+)", r.stdout) if r.returncode == 0 else None
    if not first:
        return False
    with open(image, "rb") as f:
        f.seek(offset)
        boot = f.read(SECTOR)
        sector = int.from_bytes(boot[11:13], "little")
        fat_sectors = int.from_bytes(boot[22:24], "little") or int.from_bytes(boot[36:40], "little")
        width = 2 if int.from_bytes(boot[22:24], "little") else 4
        entries = []
        for copy in range(boot[16]):
            f.seek(offset + (int.from_bytes(boot[14:16], "little") + copy * fat_sectors) * sector +
                   int(first.group(1)) * width)
            entries.append(int.from_bytes(f.read(width), "little") & 0x0FFFFFFF)
        return not any(entries)


def crash_points_test(work, fat):
    """Every prefix of one run's writes (long writes also cut at each page)
    left on the image as a power loss leaves it, then the next run: WIN.INI
    old or new whole, the other files as they were, and the volume clean,
    else the state said in a line that names ScanDisk."""
    files = EX.files
    pristine, offset = make_image(work, files, fat=fat, name="pristine.img")
    size = volume_size(pristine, offset)
    old = read_in_image(pristine, offset, "WINDOWS/WIN.INI")
    new = EX.expect_win_ini(old)
    others = {path: read_in_image(pristine, offset, path) for path in files if path != "WINDOWS/WIN.INI"}
    writes = record_writes(work, pristine, write_kit(work, EX.kit))
    states = []
    for i, (at, chunk) in enumerate(writes):
        states += [(i, cut) for cut in range(PAGE - at % PAGE, len(chunk), PAGE)]
        states.append((i + 1, None))
    repair_kit = write_kit(os.path.join(work, "repair"), NO_PRINTER_KIT)
    said = {"FATs that differ": "two FATs differ", "lost clusters": "lost cluster",
            "a stale free count": "stale count of free clusters"}
    problems, verdicts = [], dict({"clean": 0, "repaired": 0, "said": 0}, **{kind: 0 for kind in said})
    for count, cut in [(0, None)] + states:
        what = "after %d writes%s" % (count, "" if cut is None else " and %d bytes" % cut)
        image = os.path.join(work, "disk.img")
        crashed = replay(pristine, writes, count, cut, image)
        status, out, err = run_program(repair_kit, environment(work, image))
        now = read_in_image(image, offset, "WINDOWS/WIN.INI")
        if now not in (old, new) or seven_zip(image, offset, size, "WINDOWS/WIN.INI") != now:
            problems.append("%s: WIN.INI is %r" % (what, now))
        for path, data in others.items():
            if read_in_image(image, offset, path) != data:
                problems.append("%s: %s changed" % (what, path))
        # A temporary file over free clusters is never left (a booted
        # Windows could give them to another file).
        for name in ("WININI.$$N", "WININI.$$O"):
            if over_free_clusters(image, offset, "WINDOWS/" + name):
                problems.append("%s: %s is left over free clusters" % (what, name))
        fsck = fsck_problems(image, offset, size)
        if not fsck:
            # The next run writes nothing but its repair.
            verdicts["repaired" if open(image, "rb").read() != crashed else "clean"] += 1
        elif "ScanDisk" in err:
            verdicts["said"] += 1
            for kind, words in said.items():
                verdicts[kind] += words in err
        else:
            problems.append("%s: fsck.fat -n finds %r and the run said nothing of it" %
                            (what, [line for line in fsck.splitlines()[1:3]]))
    print("FAT%d: %d writes, %d states replayed: %d clean as they were, %d repaired clean by the next run, "
          "%d said (ScanDisk): %s" %
          (fat, len(writes), len(states) + 1, verdicts["clean"], verdicts["repaired"], verdicts["said"],
           ", ".join("%d with %s" % (verdicts[kind], kind) for kind in said)))
    return report("crash_points_fat%d" % fat, problems)


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
            if not (status == 1 and len(lines) == 1 and "the image is in use" in lines[0] and
                    "the image: the image" not in lines[0] and (args or FAILURE in out)):
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
    if seven_zip(image, offset, size, "WINDOWS/WIN.INI") != text:
        problems.append("7-Zip reads another WIN.INI")
    return report("two_copies", problems)


def screens_test(work):
    """One screen per image: a copy on another image lands while a first
    copy asks; a second copy on the first's image (through a link), same
    kit, does not wait for the image: it rings the first's box and ends with 0."""
    image, offset = make_image(work, EX.files)
    other, _ = make_image(os.path.join(work, "other"), EX.files)
    os.symlink(image, os.path.join(work, "link.img"))
    kit = write_kit(work, EX.kit)
    expected = EX.expect_win_ini(read_in_image(other, offset, "WINDOWS/WIN.INI"))
    first = subprocess.Popen([PROGRAM], stdin=subprocess.PIPE, stdout=subprocess.PIPE, cwd=kit,
                             env=environment(work, image))
    wait_for(lambda: locked(image))
    runs = [run_program(kit, environment(work, other)), run_program(kit, environment(work, work + "/link.img"))]
    out = first.communicate(b"ok\nok\n", timeout=120)[0].decode()
    problems = [] if [r[0] for r in runs] == [1, 0] and not runs[1][1] + runs[1][2] else ["runs: %r" % runs]
    if "\a" not in out or SUCCESS not in out or SUCCESS not in runs[0][1]:
        problems.append("the first copy's box was not brought forward, or a copy did not land: %r" % out)
    if {read_in_image(f, offset, "WINDOWS/WIN.INI") for f in (image, other)} != {expected}:
        problems.append("a WIN.INI is not the one a run writes")
    return report("screens", problems)


SPECIAL = {"kill": kill_test, "in_use": in_use_test, "two_copies": two_copies_test, "screens": screens_test,
           "crash_points_fat16": lambda work: crash_points_test(work, 16),
           "crash_points_fat32": lambda work: crash_points_test(work, 32)}
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
