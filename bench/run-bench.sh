#!/usr/bin/env bash
# Times kvo-umsetzer-cli on whole files against the floor of just moving the
# same bytes, and prints the median ratios and the peak memory: once in a
# folder on the disk, and once more on a tmpfs, where flushes cost nothing
# and the ratios show the tool's own work.
#
#   bench/run-bench.sh [BUILD_DIR] [RUNS]
#
# Large file: about 256 MB, converted by the tool vs. dd ... conv=fsync (the
# same bytes read, written and flushed), and the peak resident memory of the
# tool for it and, on the disk only, for a file of about 1 GB. Typical file:
# one file of about 250 KB, the tool's own time. Batch: a folder of 1,000
# files of about 250 KB in one call of the tool vs. cp -r of the folder and
# one sync. Status and verify of that folder once converted vs. cat of all
# its files (the .dat and the .old, which both must read) to /dev/null; undo
# of it vs. cp -r + sync. The hold through the last step (the look for
# another run at work, the new file held until its name is on the disk)
# against the conversion of 1,000 files, on the disk and on exFAT
# (kvo-hold-bench). TMPFS names the tmpfs folder (default /dev/shm).
set -euo pipefail

build=${1:-build}
runs=${2:-5}
cli=$(realpath "$build/cli/kvo-umsetzer-cli")
gen=$(realpath "$build/bench/kvo-gen")
hold=$(realpath "$build/bench/kvo-hold-bench")
for tool in "$cli" "$gen" "$hold" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing $tool (build first; /usr/bin/time is Debian's 'time')" >&2; exit 2; }
done

disk=$(mktemp -d "${TMPDIR:-/var/tmp}/kvo-bench.XXXXXX")
tmpfs=${TMPFS:-/dev/shm}
if [ "$(stat -f -c %T "$tmpfs" 2>/dev/null)" = tmpfs ]; then
  ram=$(mktemp -d "$tmpfs/kvo-bench.XXXXXX")
else
  echo "no tmpfs at $tmpfs: the run on a tmpfs is left out (TMPFS=FOLDER names one)" >&2
  ram=
fi
trap 'rm -rf "$disk" ${ram:+"$ram"}' EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# suite WHERE: every measurement in the current folder.
suite() {
  local where=$1 i tool floor
  echo "== large file"
  "$gen" --seed 1 --mb 256 source.dat
  size=$(stat -c %s source.dat)
  echo "file: $size bytes"
  : >tool.times; : >floor.times; : >tool.rss
  for ((i = 0; i < runs; i++)); do
    rm -f in.dat in.old out.dat
    cp source.dat in.dat && sync
    /usr/bin/time -f "%e %M" -o tool.run "$cli" in.dat >/dev/null
    read -r secs rss <tool.run
    echo "$secs" >>tool.times; echo "$rss" >>tool.rss
    cmp -s in.old source.dat || { echo "backup differs from the input" >&2; exit 1; }
    sync
    start=$(now)
    dd if=in.old of=out.dat bs=1M conv=fsync status=none
    echo "$(now) - $start" | bc -l >>floor.times
  done
  tool=$(median <tool.times); floor=$(median <floor.times)
  peak=$(sort -g tool.rss | tail -n 1)
  printf 'kvo-umsetzer-cli: median %.3f s   dd conv=fsync: median %.3f s   ratio %.2f\n' \
    "$tool" "$floor" "$(echo "$tool / $floor" | bc -l)"
  printf 'peak resident memory: %d KiB = %.2f x the file size\n' "$peak" \
    "$(echo "$peak * 1024 / $size" | bc -l)"
  rm -f source.dat in.dat in.old out.dat

  if [ "$where" = disk ]; then
    echo "== file of 1 GB"
    "$gen" --seed 2 --mb 1024 huge.dat
    size=$(stat -c %s huge.dat)
    before=$(cksum <huge.dat)
    sync
    /usr/bin/time -f "%e %M" -o tool.run "$cli" huge.dat >/dev/null
    read -r secs peak <tool.run
    [ "$(cksum <huge.old)" = "$before" ] || { echo "backup differs from the input" >&2; exit 1; }
    printf 'kvo-umsetzer-cli: %.3f s   peak resident memory: %d KiB = %.3f x the file size of %d bytes\n' \
      "$secs" "$peak" "$(echo "$peak * 1024 / $size" | bc -l)" "$size"
    rm -f huge.dat huge.old
  fi

  echo "== one typical file"
  "$gen" --seed 7 --mb 0.25 typical.dat
  : >tool.times
  for ((i = 0; i < runs * 4; i++)); do
    rm -f one.dat one.old
    cp typical.dat one.dat && sync
    start=$(now)
    "$cli" one.dat >/dev/null
    echo "$(now) - $start" | bc -l >>tool.times
  done
  printf 'kvo-umsetzer-cli, one file of %d bytes: median %.4f s\n' "$(stat -c %s typical.dat)" \
    "$(median <tool.times)"

  echo "== batch of 1000 files"
  mkdir -p sources
  for ((i = 1; i <= 1000; i++)); do "$gen" --seed "$i" --mb 0.25 "sources/f$i.dat"; done
  echo "files: $(du -sb sources | cut -f1) bytes in 1000 files"
  # Fresh folders each time, removed only at the end: on a file system without
  # a journal, ext4 steps around inodes freed moments ago, and whoever creates
  # files right after a big removal pays for it.
  #   against_copy LABEL FROM CHECK [OPTION]: the tool on a copy of FROM (made
  #   with cp -a and flushed), RUNS times, each beside cp -r of sources and one
  #   sync; CHECK (run with the folder) must pass afterwards.
  against_copy() {
    local label=$1 from=$2 check=$3 option=${4:-} i tool floor
    : >tool.times; : >floor.times; : >ratios
    for ((i = 0; i < runs; i++)); do
      cp -a "$from" "$label$i" && sync
      start=$(now)
      "$cli" $option "$label$i" >/dev/null
      tool=$(echo "$(now) - $start" | bc -l)
      echo "$tool" >>tool.times
      sync
      start=$(now)
      cp -r sources "copy-$label$i" && sync
      floor=$(echo "$(now) - $start" | bc -l)
      echo "$floor" >>floor.times
      echo "$tool / $floor" | bc -l >>ratios
      "$check" "$label$i"
    done
    tool=$(median <tool.times); floor=$(median <floor.times)
    printf 'kvo-umsetzer-cli %sFOLDER: median %.3f s   cp -r + sync: median %.3f s   ratio of medians %.2f   median ratio %.2f\n' \
      "${option:+$option }" "$tool" "$floor" "$(echo "$tool / $floor" | bc -l)" "$(median <ratios)"
  }
  converted_right() {
    [ -f "$1/f1.old" ] || { echo "not converted: $1" >&2; exit 1; }
  }
  originals_back() {
    diff -rq sources "$1" >/dev/null || { echo "undo did not bring the originals back" >&2; exit 1; }
  }
  against_copy batch sources converted_right

  echo "== status, verify and undo of the converted folder"
  converted=batch0
  for f in "$converted"/*.dat; do
    cmp -s "$f" "${f%.dat}.old" && { echo "not converted: $f" >&2; exit 1; }
  done
  cat "$converted"/* >/dev/null  # the page cache as warm for both
  : >status.times; : >verify.times; : >cat.times
  for ((i = 0; i < runs; i++)); do
    start=$(now)
    "$cli" --status "$converted" >status.out
    echo "$(now) - $start" | bc -l >>status.times
    start=$(now)
    "$cli" --verify "$converted" >verify.out
    echo "$(now) - $start" | bc -l >>verify.times
    start=$(now)
    cat "$converted"/* >/dev/null
    echo "$(now) - $start" | bc -l >>cat.times
  done
  tail -n 1 status.out
  [ "$(grep -c ': stimmt$' verify.out)" = 1000 ] || { echo "verify did not find 1000 files right" >&2; exit 1; }
  cat=$(median <cat.times)
  for what in status verify; do
    t=$(median <"$what.times")
    printf 'kvo-umsetzer-cli --%s FOLDER: median %.3f s   cat of its files: median %.3f s   ratio %.2f\n' \
      "$what" "$t" "$cat" "$(echo "$t / $cat" | bc -l)"
  done
  against_copy undo "$converted" originals_back --undo

  echo "== what the hold through the last step costs 1000 files"
  for ((i = 0; i < runs; i++)); do "$hold" "$cli" .; done
}

# On exFAT through FUSE, which keeps no change time, the last check before
# the rename reads the file once more: the large file against dd, and the
# time of that one read (cat, the page cache as warm as the check finds it).
fuse_large() {
  local i
  "$gen" --seed 1 --mb 256 source.dat
  : >tool.times; : >floor.times; : >read.times
  for ((i = 0; i < runs; i++)); do
    rm -f m/in.dat m/in.old m/out.dat
    cp source.dat m/in.dat && sync
    start=$(now)
    "$cli" m/in.dat >/dev/null
    echo "$(now) - $start" | bc -l >>tool.times
    cmp -s m/in.old source.dat || { echo "backup differs from the input" >&2; exit 1; }
    start=$(now)
    cat m/in.dat >/dev/null
    echo "$(now) - $start" | bc -l >>read.times
    start=$(now)
    dd if=m/in.old of=m/out.dat bs=1M conv=fsync status=none
    echo "$(now) - $start" | bc -l >>floor.times
  done
  tool=$(median <tool.times); floor=$(median <floor.times); read=$(median <read.times)
  printf 'kvo-umsetzer-cli: median %.3f s   dd conv=fsync: median %.3f s   ratio %.2f\n' \
    "$tool" "$floor" "$(echo "$tool / $floor" | bc -l)"
  printf 'the last check'"'"'s read of the file: median %.3f s = %.1f %% of the tool'"'"'s time\n' \
    "$read" "$(echo "100 * $read / $tool" | bc -l)"
}

echo "#### in a folder on the disk: $disk"
(cd "$disk" && suite disk)
if [ "$(id -u)" = 0 ] && command -v mount.exfat-fuse mkfs.exfat losetup >/dev/null; then
  echo "#### on exFAT through FUSE (no change time kept)"
  (cd "$disk" && truncate -s 1G exfat.img && mkfs.exfat exfat.img >/dev/null &&
    loop=$(losetup -f --show exfat.img) && mkdir -p m &&
    mount.exfat-fuse "$loop" m >/dev/null 2>&1 &&
    { fuse_large && {
        echo "== what the hold through the last step costs 1000 files"
        for ((i = 0; i < runs; i++)); do "$hold" "$cli" m; done
      }
      status=$?; umount m; losetup -d "$loop"; rm -f exfat.img source.dat; exit $status; })
else
  echo "exFAT through FUSE left out: it needs root and exfat-fuse" >&2
fi
if [ -n "$ram" ]; then
  echo "#### in a folder on a tmpfs: $ram"
  (cd "$ram" && suite tmpfs)
fi
