#!/usr/bin/env bash
# Times whole first runs of the real search program (Kolvex) of two build directories,
# alternately, on the same input: the primes below a bound (default 10^7), minimum length 10, the
# sieved list of the primes up to 1.5 times the bound. Prints every run (seconds, processor
# seconds, peak resident size, store size) and the ratios of the total times.
#
#   bench/compare_runs.sh OLD_BUILD NEW_BUILD [bound] [repetitions]
#
# The input files are written by NEW_BUILD/bench/bench_engines; the runs go to a temporary
# directory (a run over 10^7 writes a store of about 1.7 GB).
set -euo pipefail
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
bound=${3:-10000000}
reps=${4:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$new/bench/bench_engines" files "$work/input" "$bound"
declare -A total=([old]=0 [new]=0)
declare -A cpu=([old]=0 [new]=0)
for ((r = 1; r <= reps; r++)); do
  for which in old new; do
    dir=${!which}
    rm -rf "$work/run" && cp -r "$work/input" "$work/run"
    (cd "$work/run" &&
      printf 'primes.txt\n10\n\n' | /usr/bin/time -f '%e %U %S %M' -o ../time.txt "$dir/bin/Kolvex" >/dev/null)
    read -r seconds user system kb <"$work/time.txt"
    store=$(stat -c %s "$work/run/_ContData.dat" 2>/dev/null || echo 0)
    printf '%s run %d: %8.2f s  processor %8.2f s  peak %7d kB  store %12d bytes  (%s)\n' \
      "$which" "$r" "$seconds" "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$kb" \
      "$store" "$dir"
    total[$which]=$(awk -v a="${total[$which]}" -v b="$seconds" 'BEGIN { print a + b }')
    cpu[$which]=$(awk -v a="${cpu[$which]}" -v u="$user" -v s="$system" 'BEGIN { print a + u + s }')
  done
done
awk -v a="${total[old]}" -v b="${total[new]}" -v c="${cpu[old]}" -v d="${cpu[new]}" \
  'BEGIN { printf "total: old %.2f s, new %.2f s; new is %.2fx as fast (processor time %.2fx)\n",
           a, b, a / b, c / d }'
