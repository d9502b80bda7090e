#!/usr/bin/env bash
# Builds the fuzzers with clang, makes a seed corpus with kvo-gen and fuzzes
# the format for SECONDS (60 by default); then replays every input the
# explorer of the whole run ever broke a promise with (fuzz/explore-found)
# and lets it search for EXPLORE-SECONDS (120 by default), half of them
# guided by coverage, half on seeded inputs.
#
#   fuzz/run-fuzz.sh [SECONDS [EXPLORE-SECONDS]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
explore_seconds=${2:-120}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DKVO_FUZZ=ON -DKVO_SANITIZE=ON \
  -DKVO_BUILD_APP=OFF -DKVO_BUILD_BENCH=OFF -DKVO_BUILD_TESTS=OFF -DKVO_WERROR=ON >/dev/null
cmake --build build-fuzz --target fuzz_convert explore explore-seeds kvo-gen

corpus=build-fuzz/corpus
rm -rf "$corpus" && mkdir -p "$corpus"
gen=build-fuzz/bench/kvo-gen
$gen --seed 1 "$corpus/empty.dat"
$gen --seed 2 --count 6=1 --count 7=2 --count 12=2 --count 17=1 "$corpus/small.dat"
$gen --seed 3 --count 7=1 --count 8=1 --count 9=1 --count 10=1 --count 13=1 --count 18=1 "$corpus/each.dat"
$gen --seed 4 --count 17=-1 --count 18=-2 --count 12=1 "$corpus/negative.dat"
echo "seed corpus: $(ls "$corpus" | wc -l) files"

build-fuzz/fuzz/fuzz_convert "$corpus" -max_len=262144 -max_total_time="$seconds" \
  -print_final_stats=1 -rss_limit_mb=4096 -artifact_prefix=build-fuzz/ 2>&1 | tail -n 25

# The explorer: a broken promise prints its scenario and stops the script.
found=fuzz/explore-found
shopt -s nullglob
kept=("$found"/*)
if ((${#kept[@]})); then
  build-fuzz/fuzz/explore "${kept[@]}" 2>&1 | tail -n 3
fi
explored=build-fuzz/explore-corpus
mkdir -p "$explored"
first_seed=${EXPLORE_SEED:-$(date +%s)}
echo "seeded inputs from seed $first_seed (EXPLORE_SEED=$first_seed repeats them)"
# Half the time guided by coverage, from 64 seeded inputs, half on plain
# seeded inputs, which draw every choice evenly (coverage alone keeps
# revisiting what is new to it). Whole inputs (-len_control=0): libFuzzer
# otherwise grows them a few bytes at a time, and a short one decodes into
# one small folder and one operation.
build-fuzz/fuzz/explore-seeds --write "$explored" "$first_seed" 64
first_seed=$((first_seed + 64))
build-fuzz/fuzz/explore "$explored" -max_len=512 -len_control=0 \
  -max_total_time="$((explore_seconds / 2))" -print_final_stats=1 -rss_limit_mb=4096 \
  -artifact_prefix=build-fuzz/explore- 2>&1 | tail -n 8
# (An input that breaks a promise is left as build-fuzz/explore-seed-N.)
(cd build-fuzz && fuzz/explore-seeds "$first_seed" "$((explore_seconds - explore_seconds / 2))") 2>&1 |
  tail -n 40
