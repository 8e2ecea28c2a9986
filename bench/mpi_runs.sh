#!/usr/bin/env bash
# Times first runs of the real search program (Kolvex) spread over 1 to 4 MPI processes of one
# thread each, beside the same program on one process with as many threads, in one sitting: the
# pruned run over the primes below a bound (default 10^8) and the unpruned one below another
# (default 10^7), minimum length 10, the sieved list as bench_engines writes it (to 3 times the
# bound for the pruned run, whose scan needs it, 1.5 times for the other). Prints every
# run (seconds, each rank's peak resident size, the bytes each rank sent) and, per bound, the
# cost of 2 processes of 1 thread against 1 process of 2 threads.
#
#   bench/mpi_runs.sh BUILD [pruned bound] [unpruned bound]
#
# More processes than cores are started with --oversubscribe; as root, Open MPI's two
# allow-run-as-root variables are set. The runs go to a temporary directory.
set -euo pipefail
build=$(cd "$1" && pwd)
pruned=${2:-100000000}
unpruned=${3:-10000000}
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run: "threads N" or "ranks N"; prints its line and leaves the seconds in $work/seconds.
run() {
  local kind=$1 n=$2 bound=$3 prune=$4
  rm -rf "$work/run" "$work"/peak.* && cp -r "$work/input" "$work/run"
  local args=(--add primes.txt --min-length 10 --no-wait)
  [[ $prune == yes ]] && args+=(--prune)
  local start end
  start=$(date +%s.%N)
  if [[ $kind == threads ]]; then
    (cd "$work/run" && /usr/bin/time -f '%M' -o "$work/peak.0" \
      "$build/bin/Kolvex" --threads "$n" "${args[@]}" >/dev/null </dev/null)
    echo "rank 0 sent 0 bytes" >"$work/traffic"
  else
    (cd "$work/run" && KV_JOB_TRAFFIC=1 mpirun --oversubscribe -np "$n" sh -c \
      'exec /usr/bin/time -f "%M" -o "$0/peak.$OMPI_COMM_WORLD_RANK" "$@"' "$work" \
      "$build/bin/Kolvex" --threads 1 "${args[@]}" >/dev/null 2>"$work/traffic" </dev/null)
  fi
  end=$(date +%s.%N)
  local seconds peaks sent
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  peaks=$(for f in "$work"/peak.*; do tail -n 1 "$f"; done | sort -n | tr '\n' ' ')
  sent=$(grep -o 'rank [0-9]* sent [0-9]*' "$work/traffic" | sort -k2n | awk '{ printf "%s ", $4 }')
  printf '%-8s %d  %3s  %8.2f s  peak kB per rank: %s  bytes sent per rank: %s\n' \
    "$kind" "$n" "$prune" "$seconds" "$peaks" "$sent"
  echo "$seconds" >"$work/seconds"
}

for setting in "$pruned yes 3" "$unpruned no 1.5"; do
  read -r bound prune factor <<<"$setting"
  rm -rf "$work/input"
  "$build/bench/bench_engines" files "$work/input" "$bound" "$factor" >/dev/null
  echo "primes below $bound, prune: $prune"
  declare -A t=()
  for n in 1 2 3 4; do
    for kind in threads ranks; do
      run "$kind" "$n" "$bound" "$prune"
      t[$kind$n]=$(cat "$work/seconds")
    done
  done
  awk -v a="${t[threads2]}" -v b="${t[ranks2]}" \
    'BEGIN { printf "2 ranks x 1 thread against 1 process x 2 threads: %+.1f %%\n", 100 * (b / a - 1) }'
done
