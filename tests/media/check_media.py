#!/usr/bin/env python3
"""The kit on its media, read back with the tools a user has.

Usage:
  check_media.py media --kit DIR --floppy IMG --cd ISO --unstripped EXE --objdump TOOL --nm TOOL
      the floppy and CD images hold exactly the kit folder's files, byte
      for byte; the floppy is a 1.44 MB FAT12 disk, the CD has Joliet
      names; the shipped program has no symbol table, the one in the build
      folder still has its own
  check_media.py extract-floppy --floppy IMG --out DIR
      copies the floppy's files into DIR, for running them

Exit codes: 0 passed, 1 failed, 77 skipped (an image or a tool is missing).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
KIT_FILES = ["pfmres.dll", "pfmsetup.exe", "pfmsetup.ini"]
FLOPPY_BYTES = 1440 * 1024
SECTOR = 2048


def run(*words):
    result = subprocess.run(words, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, MTOOLSRC="/dev/null"))
    if result.returncode != 0:
        raise SystemExit(f"{' '.join(words)} failed: {result.stderr.decode(errors='replace').strip()}")
    return result.stdout.decode(errors="replace")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def floppy_names(image):
    # mdir -b: one "::/NAME" a line, the names as the directory keeps them.
    return sorted(line.strip()[3:].lower() for line in run("mdir", "-b", "-i", image, "::").splitlines()
                  if line.strip())


def extract_floppy(image, out):
    os.makedirs(out, exist_ok=True)
    for name in floppy_names(image):
        run("mcopy", "-n", "-o", "-i", image, "::" + name, os.path.join(out, name))


def joliet_escape(image):
    """The escape sequence of the image's Joliet volume descriptor (a
    supplementary descriptor naming UCS-2 level 1, 2 or 3), None without."""
    data = read(image)
    for sector in range(16, 32):
        d = data[sector * SECTOR:(sector + 1) * SECTOR]
        if len(d) < SECTOR or d[1:6] != b"CD001" or d[0] == 255:
            break
        if d[0] == 2 and d[88:91] in (b"%/@", b"%/C", b"%/E"):
            return d[88:91]
    return None


def check_media(args, faults):
    kit = {name: read(os.path.join(args.kit, name)) for name in KIT_FILES}

    # The floppy: its size, its file system, its files.
    floppy = read(args.floppy)
    if len(floppy) != FLOPPY_BYTES:
        faults.append(f"floppy image is {len(floppy)} bytes, not {FLOPPY_BYTES}")
    if floppy[54:62] != b"FAT12   ":
        faults.append(f"floppy file system type {floppy[54:62]!r}, not FAT12")
    if floppy[510:512] != b"\x55\xaa":
        faults.append("floppy boot sector lacks its signature")
    names = floppy_names(args.floppy)
    if names != KIT_FILES:
        faults.append(f"floppy holds {names}, not {KIT_FILES}")
    with tempfile.TemporaryDirectory() as tmp:
        extract_floppy(args.floppy, tmp)
        for name in KIT_FILES:
            path = os.path.join(tmp, name)
            if os.path.exists(path) and read(path) != kit[name]:
                faults.append(f"floppy's {name} differs from the kit folder's")

    # The CD: Joliet names, read through the Joliet tree, and the files.
    if joliet_escape(args.cd) is None:
        faults.append("CD image has no Joliet volume descriptor")
    listing = run("xorriso", "-rockridge", "off", "-joliet", "on", "-indev", args.cd, "-ls", "/")
    cd_names = sorted(line.strip().strip("'") for line in listing.splitlines() if line.strip())
    if cd_names != KIT_FILES:
        faults.append(f"CD holds {cd_names} by its Joliet names, not {KIT_FILES}")
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cd")
        run("xorriso", "-rockridge", "off", "-joliet", "on", "-osirrox", "on", "-indev", args.cd,
            "-extract", "/", out)
        for name in KIT_FILES:
            path = os.path.join(out, name)
            if not os.path.exists(path) or read(path) != kit[name]:
                faults.append(f"CD's {name} differs from the kit folder's")

    # The shipped program has no symbol table; the build folder's has one.
    shipped = os.path.join(args.kit, "pfmsetup.exe")
    table = run(args.objdump, "-t", shipped)
    if "no symbols" not in table or "[" in table:
        faults.append("the kit's pfmsetup.exe still has a symbol table")
    nm = subprocess.run([args.nm, shipped], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if "no symbols" not in nm.stdout:
        faults.append(f"nm finds symbols in the kit's pfmsetup.exe: {nm.stdout[:200]!r}")
    if "_WinMainCRTStartup" not in run(args.objdump, "-t", args.unstripped):
        faults.append("the build folder's pfmsetup.exe lost its symbols")
    if len(kit["pfmsetup.exe"]) >= len(read(args.unstripped)):
        faults.append("the shipped pfmsetup.exe is not smaller than the unstripped one")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["media", "extract-floppy"])
    ap.add_argument("--kit")
    ap.add_argument("--floppy", required=True)
    ap.add_argument("--cd")
    ap.add_argument("--unstripped")
    ap.add_argument("--objdump")
    ap.add_argument("--nm")
    ap.add_argument("--out")
    args = ap.parse_args()
    tools = ["mdir", "mcopy"] + (["xorriso"] if args.mode == "media" else [])
    missing = [t for t in tools if not shutil.which(t)]
    images = [args.floppy] + ([args.cd] if args.mode == "media" else [])
    missing += [i for i in images if not os.path.isfile(i)]
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    if args.mode == "extract-floppy":
        if os.path.isdir(args.out):
            shutil.rmtree(args.out)
        extract_floppy(args.floppy, args.out)
        print(f"extracted {', '.join(sorted(os.listdir(args.out)))} into {args.out}")
        return 0
    faults = []
    check_media(args, faults)
    for fault in faults:
        print(fault)
    print("media: " + ("passed" if not faults else f"{len(faults)} fault(s)"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
