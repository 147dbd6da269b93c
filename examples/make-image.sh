#!/usr/bin/env bash
# Puts a Windows 9x drive folder into a disk image file, as an emulator or a
# dd copy of a disk holds it, without root: the master boot record written
# here, the FAT volume made with mkfs.fat --offset, the files put in with
# mcopy.
#
#   make-image.sh [--fat 16|32] [--layout LAYOUT] [--size MIB] [--cluster SECTORS] FOLDER IMAGE
#
# LAYOUT:
#   primary      one active primary partition at sector 63, as Windows 98's
#                FDISK leaves it (type 0x06 for FAT16, 0x0C for FAT32); the
#                default
#   logical      a logical partition in an extended partition (type 0x05),
#                no active partition
#   two          two primary partitions holding the drive, the second one
#                active (WIN9X_PARTITION=1 names the first)
#   superfloppy  one FAT volume without a partition table
#   vhd          primary, followed by the footer of a fixed VHD
# The partition holding the drive is MIB MiB (default 32 for FAT16, 40 for
# FAT32). A FAT32 cluster is one sector unless SECTORS says otherwise, so
# that small test volumes can be FAT32 at all; Windows 98 formats FAT32
# volumes of up to 8 GB with 8 (4 KB), which needs at least 260 MiB. Prints the byte offset of the volume holding FOLDER (the last
# one made, for two).
set -euo pipefail
fat=16 layout=primary size= cluster=
while [ $# -gt 2 ]; do
  case "$1" in
    --fat) fat=$2; shift 2 ;;
    --layout) layout=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --cluster) cluster=$2; shift 2 ;;
    *) echo "make-image.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -eq 2 ] || { echo "usage: make-image.sh [--fat 16|32] [--layout LAYOUT] [--size MIB] [--cluster SECTORS] FOLDER IMAGE" >&2; exit 2; }
folder=$1 image=$2
[ -n "$size" ] || { [ "$fat" = 32 ] && size=40 || size=32; }
sectors=$((size * 2048))
type=$([ "$fat" = 32 ] && echo 0c || echo 06)
export MTOOLS_SKIP_CHECK=1
unset MTOOLS_NO_VFAT

# Little-endian 32-bit number as printf escapes.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
# One 16-byte partition entry (CHS fields left at their LBA-only values).
entry() { printf "\\x$1\\xfe\\xff\\xff\\x$2\\xfe\\xff\\xff$(le32 "$3")$(le32 "$4")"; }
# A partition table (up to four entries, as "flag type first count") at
# sector $1, with the boot signature.
table() {
  local at=$1; shift
  { local n=0; for e in "$@"; do entry $e; n=$((n + 1)); done
    head -c $((16 * (4 - n))) /dev/zero; printf '\x55\xaa'; } |
    dd of="$image" bs=1 seek=$((at * 512 + 446)) conv=notrunc status=none
}
# A FAT volume of $2 sectors at sector $1, filled from the folder.
volume() {
  local first=$1 count=$2 opts=()
  [ "$fat" = 32 ] && opts=(-s "${cluster:-1}")
  [ "$fat" = 16 ] && [ -n "$cluster" ] && opts=(-s "$cluster")
  mkfs.fat -F "$fat" "${opts[@]}" --offset "$first" -n WIN98 "$image" $((count / 2)) >/dev/null
  if [ -n "$(ls -A "$folder")" ]; then
    mcopy -s -i "$image@@$((first * 512))" "$folder"/* ::/
  fi
  offset=$((first * 512))
}

rm -f "$image"
case "$layout" in
  primary|vhd)
    truncate -s $(((63 + sectors) * 512)) "$image"
    table 0 "80 $type 63 $sectors"
    volume 63 "$sectors"
    ;;
  logical)
    # The extended partition from sector 63; its boot record there, the
    # logical partition 63 sectors further.
    truncate -s $(((126 + sectors) * 512)) "$image"
    table 0 "00 05 63 $((63 + sectors))"
    table 63 "00 $type 63 $sectors"
    volume 126 "$sectors"
    ;;
  two)
    truncate -s $(((63 + 2 * sectors) * 512)) "$image"
    table 0 "00 $type 63 $sectors" "80 $type $((63 + sectors)) $sectors"
    volume 63 "$sectors"
    volume $((63 + sectors)) "$sectors"
    ;;
  superfloppy)
    truncate -s $((sectors * 512)) "$image"
    volume 0 "$sectors"
    ;;
  *) echo "make-image.sh: unknown layout $layout" >&2; exit 2 ;;
esac
if [ "$layout" = vhd ]; then
  # The footer of a fixed VHD: its cookie, and disk type 2 at byte 60.
  { printf 'conectix'; head -c 52 /dev/zero; printf '\x00\x00\x00\x02'; head -c 448 /dev/zero; } >> "$image"
fi
echo "$offset"
