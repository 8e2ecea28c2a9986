#!/usr/bin/env bash
# Builds the programs and runs a demo search in demo/ with no typed input: a first run merges the
# primes below 200000 into a new table and searches it (progressions of 8 terms or more are
# saved), a second run adds the primes from 200000 to 300000, re-examines the progressions the
# first run left open and searches the new part of the table. Prints the console of both runs
# and how many progressions of each length were found, then kvreport's summary and check of the
# files. Then the same search done by kvcampaign alone, from an empty directory demo/campaign,
# with the primes below 300000 in three steps.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
need_packages "${build_packages[@]}"
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target Kolvex kvreport kvcampaign >/dev/null
rm -rf demo && mkdir demo && cd demo

# The primes from $1 up to below $2, one per line.
primes() {
  awk -v from="$1" -v n="$2" 'BEGIN {
    for (i = 2; i < n; i++) s[i] = 1
    for (i = 2; i * i < n; i++) if (s[i]) for (j = i * i; j < n; j += i) s[j] = 0
    for (i = from; i < n; i++) if (s[i]) print i }'
}
primes 2 200000 > first.txt
primes 200000 300000 > second.txt

for input in first.txt second.txt; do
  echo "=== Kolvex with $input"
  printf '%s\n8\n\n' "$input" | ../build/bin/Kolvex | iconv -f CP932 -t UTF-8
  echo
done

echo
echo "=== Results in $(pwd)"
for file in _L*_ResultData.txt; do
  echo "$file: $(($(wc -l < "$file") - 1)) progressions"
done | sort -t L -k 2 -n
echo "_ContData.dat: $(( ($(wc -c < _ContData.dat) - 12) / 4 )) entries (progressions that may go on beyond 300000, with group markers)"

echo
echo "=== kvreport"
../build/bin/kvreport | iconv -f CP932 -t UTF-8 || echo "(kvreport exit status $?)"

echo "=== kvcampaign --to 300000 --step 100000 --min-length 8 in $(pwd)/campaign"
mkdir campaign && cd campaign
../../build/bin/kvcampaign --to 300000 --step 100000 --min-length 8 | iconv -f CP932 -t UTF-8
