#!/usr/bin/env bash
# A full USB stick under Windows (Wine, in German): the command line names
# the user's file with the system's own German words and says that the file
# is unchanged, never a temporary file or a call. The drive is a small tmpfs
# mapped as E:.
#   wine-full-drive.sh WINE CLI.exe GEN.exe
# Needs root and the German locale; without them it is skipped (exit 77),
# except in CI, which has them.
set -u
wine=$1 cli=$2 gen=$3
skip() {
  echo "skipped: $1"
  [ "${CI:-}" = true ] && { echo "CI must run this test: $1"; exit 1; }
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root"
locale -a | grep -qi '^de_DE.utf-\?8$' || skip "needs the German locale de_DE.UTF-8"

work=$(mktemp -d)
cleanup() {
  WINEPREFIX="$work/wine" wineserver -k 2>/dev/null
  mountpoint -q "$work/e" && umount "$work/e"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/e"
mount -t tmpfs -o size=1m tmpfs "$work/e" || skip "cannot mount a tmpfs"
export WINEPREFIX="$work/wine" WINEDEBUG=-all LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8
"$wine" wineboot --init >/dev/null 2>&1
ln -s "$work/e" "$WINEPREFIX/dosdevices/e:"
# The new file does not fit beside the original.
"$wine" "$gen" --seed 2 --mb 0.7 'E:\Nord.dat' >/dev/null
cp "$work/e/Nord.dat" "$work/original.dat"

err=$("$wine" "$cli" 'E:\Nord.dat' 2>&1 >/dev/null)
status=$?
fail() { echo "FAILED: $1"; exit 1; }
[ "$status" -eq 1 ] || fail "exit status $status"
expected='E:\Nord.dat: Kann neue Datei nicht erzeugen (Datenträger voll. Die Datei ist unverändert)'
[ "$(tr -d '\r' <<<"$err")" = "$expected" ] || fail "said: $err"
[ "$(ls -A "$work/e")" = Nord.dat ] || fail "left: $(ls -A "$work/e")"
cmp "$work/e/Nord.dat" "$work/original.dat" || fail "the original changed"
echo "passed: $err"
