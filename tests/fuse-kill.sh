#!/usr/bin/env bash
# The exFAT driver of a USB stick (exfat-fuse) killed at each of its writes
# to the disk, during a conversion and during an undo: whatever the disk then
# holds, the original is under its name or its backup's, never only under a
# hidden one, and "--undo" brings it back under its name alone.
#   fuse-kill.sh CLI GEN
# Needs root, a loop device, exfat-fuse, exfatprogs and strace; without them
# it is skipped (exit 77), except in CI, which installs them.
set -u
cli=$1 gen=$2
skip() {
  echo "skipped: $1"
  [ "${CI:-}" = true ] && { echo "CI must run this test: $1"; exit 1; }
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root"
for tool in mount.exfat-fuse mkfs.exfat fsck.exfat strace losetup mountpoint; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done
[ -e /dev/fuse ] || skip "needs /dev/fuse"

work=$(mktemp -d)
loop=""
cleanup() {
  mountpoint -q "$work/m" && { umount "$work/m" || umount -l "$work/m"; }
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/m"

# Mounts the image; with a number, under strace, which kills the driver at
# that write of it to the disk (counted from the mount on).
mount_image() {
  loop=$(losetup -f --show "$work/img") || skip "no loop device"
  if [ -n "${1:-}" ]; then
    strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=SIGKILL:when="$1" \
      mount.exfat-fuse "$loop" "$work/m" 2>/dev/null &
    driver=$!
  else
    mount.exfat-fuse "$loop" "$work/m" >/dev/null 2>&1 || skip "exfat-fuse does not mount here"
    driver=""
  fi
  # Until it is there, or the driver was killed before it came.
  timeout 20 bash -c "until mountpoint -q '$work/m' || ! kill -0 ${driver:-\$\$} 2>/dev/null; do :; done"
  mountpoint -q "$work/m"
}
unmount_image() {
  # A live driver writes all it holds before it lets go; a killed one is
  # taken away at once.
  umount "$work/m" 2>/dev/null || umount -l "$work/m" 2>/dev/null
  [ -n "$driver" ] && wait "$driver" 2>/dev/null
  # What a user's system does with a stick pulled out early.
  fsck.exfat -y "$loop" >/dev/null 2>&1
  losetup -d "$loop"
  loop=""
}
writes() {  # the numbers of the driver's first and last write while the command runs
  cp "$work/$1.img" "$work/img"
  loop=$(losetup -f --show "$work/img")
  strace -f -qq -o "$work/trace" -e trace=pwrite64 mount.exfat-fuse "$loop" "$work/m" 2>/dev/null &
  driver=$!
  timeout 20 bash -c "until mountpoint -q '$work/m'; do :; done" || skip "the mount never came"
  local before; before=$(grep -c pwrite64 "$work/trace")
  shift
  "$@" >/dev/null 2>&1
  echo "$((before + 1)) $(grep -c pwrite64 "$work/trace")"
  unmount_image
}

# The images: a version 1.0 file, and the same converted.
truncate -s 8M "$work/img"
mkfs.exfat "$work/img" >/dev/null 2>&1 || skip "mkfs.exfat failed"
mount_image || skip "exfat-fuse does not mount here"
"$gen" --seed 3 --mb 0.1 "$work/m/x.dat" >/dev/null
cp "$work/m/x.dat" "$work/original"
unmount_image
cp "$work/img" "$work/v10.img"
mount_image || skip "exfat-fuse does not mount here"
"$cli" "$work/m/x.dat" >/dev/null || { echo "conversion on exFAT failed"; exit 1; }
cp "$work/m/x.dat" "$work/converted"
unmount_image
cp "$work/img" "$work/v11.img"

failures=0 runs=0 states=
fail() { echo "$*"; failures=$((failures + 1)); }
same() { [ -f "$1" ] && cmp -s "$1" "$2"; }

# exFAT ignores case: NORD.OLD beside NORD.DAT is its backup, counted once.
cp "$work/v10.img" "$work/img"
mount_image || skip "exfat-fuse does not mount here"
mkdir "$work/m/case"
cp "$work/original" "$work/m/case/NORD.DAT"
"$cli" "$work/m/case/NORD.DAT" >/dev/null
mv "$work/m/case/NORD.old" "$work/m/case/N.tmp" && mv "$work/m/case/N.tmp" "$work/m/case/NORD.OLD"
out=$("$cli" --status "$work/m/case")
runs=$((runs + 1))
[ "$out" = "$work/m/case/NORD.DAT: Version 1.1, umgesetzt und seitdem unverändert
Zusammenfassung: 1 umgesetzt und unverändert, 0 beschädigt oder nicht lesbar" ] ||
  fail "NORD.OLD beside NORD.DAT: $out"
# ... and is never converted itself, in whatever case it is named.
out=$("$cli" "$work/m/case/NORD.OLD" 2>&1)
runs=$((runs + 1))
[ "$out" = "$work/m/case/NORD.OLD: Kann Backup Datei nicht erzeugen (Das ist selbst eine Sicherung mit der Endung .old; sie bleibt, wie sie ist. Die Datei ist unverändert)" ] &&
  cmp -s "$work/m/case/NORD.OLD" "$work/original" || fail "NORD.OLD named: $out"
unmount_image
for step in convert undo; do
  start=v10 args=("$work/m/x.dat")
  [ "$step" = undo ] && start=v11 args=(--undo "$work/m/x.dat")
  read -r first last < <(writes "$start" "$cli" "${args[@]}")
  total=$((last - first + 1))
  for ((n = first; n <= last; n++)); do
    runs=$((runs + 1))
    cp "$work/$start.img" "$work/img"
    mount_image "$n" && "$cli" "${args[@]}" >/dev/null 2>&1
    unmount_image
    mount_image || { fail "the stick does not mount again"; continue; }
    at="$step, driver killed at write $((n - first + 1)) of $total:"
    f="$work/m/x.dat" b="$work/m/x.old"
    if same "$f" "$work/converted"; then
      same "$b" "$work/original" || fail "$at the converted file without its backup"
    elif ! same "$f" "$work/original" && ! same "$b" "$work/original"; then
      fail "$at the original under no name: $(ls -A "$work/m" | tr '\n' ' ')"
    fi
    [ -e "$b" ] && ! same "$b" "$work/original" && fail "$at a broken backup"
    states="$states$(ls -A "$work/m" | tr '\n' ' ')"$'\n'
    out=$("$cli" --undo "$work/m/x.dat" 2>&1) || fail "$at --undo failed: $out"
    same "$f" "$work/original" || fail "$at --undo did not bring the original back: $out"
    [ "$(ls -A "$work/m")" = x.dat ] || fail "$at left: $(ls -A "$work/m" | tr '\n' ' ')after: $out"
    unmount_image
  done
  echo "$step: the driver killed at each of its $total writes"
done
echo "what the disk held after the driver was killed, how often:"
printf '%s' "$states" | sort | uniq -c
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
