#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each one for a fixed time on its seed corpus.
#   scripts/fuzz.sh            25 seconds per target (the CI setting)
#   scripts/fuzz.sh 600        ten minutes per target
#   scripts/fuzz.sh 60 sieved  only the named targets
# New inputs are kept in build-fuzz/corpus/<target>; the seeds in fuzz/corpus stay as they are.
# A finding stops the script with the target's report and the crashing input under build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
shift || true
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=(adddata readdata sieved contstore conttext import convert inputitems texttoreal report)
fi
# Debian's clang-14 package installs clang-14 and clang++-14; the plain names come with "clang".
if [[ -z "${CXX:-}" ]]; then
  for c in clang++ clang++-14; do
    if command -v "$c" >/dev/null; then CXX=$c; CC=${c/++/}; break; fi
  done
fi
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B build-fuzz -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF \
  -DKV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)" >build-fuzz/build.log 2>&1; then
  tail -n 60 build-fuzz/build.log
  exit 1
fi
status=0
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work" build-fuzz/findings/$t
  log=build-fuzz/fuzz_$t.log
  if ! build-fuzz/fuzz/fuzz_$t "$work" "fuzz/corpus/$t" -max_total_time="$seconds" -max_len=4096 \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$t/" >"$log" 2>&1; then
    echo "fuzz_$t: FINDING (see $log and build-fuzz/findings/$t/)"
    tail -n 40 "$log"
    status=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  echo "fuzz_$t: ${runs:-?} executions in ${seconds} s, ${cov:-cov: ?}, no finding"
done
exit $status
