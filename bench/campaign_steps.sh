#!/usr/bin/env bash
# Runs (or goes on with) a campaign of the primes to a bound and prints, from its log, the time of
# every step scaled to a step of 10^7 numbers, so that the cost of a step can be followed as the
# table grows; then the whole run's time, peak resident size and bytes written to disk.
#
#   bench/campaign_steps.sh BUILD DIR TO [kvcampaign options...]   (default --min-length 10)
#   bench/campaign_steps.sh --log DIR                              (only print DIR's log)
#
# A campaign is resumable, so a long one may be run in parts into the same DIR with rising TO; the
# log keeps every step. The log's time columns are empty for a step whose line a stop prevented.
set -euo pipefail
if [[ ${1:-} != --log ]]; then
  build=$(cd "$1" && pwd)
  dir=$2
  to=$3
  shift 3
  (($# > 0)) || set -- --min-length 10
  mkdir -p "$dir"
  times=$(mktemp)
  trap 'rm -f "$times"' EXIT
  (cd "$dir" && /usr/bin/time -f '%e %U %S %M %O' -o "$times" \
    "$build/bin/kvcampaign" --to "$to" "$@" >/dev/null)
  read -r seconds user system kb blocks <"$times"
  printf 'run: %.0f s, processor %.0f s, peak %d kB, written %.2f GB\n' "$seconds" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$kb" \
    "$(awk -v b="$blocks" 'BEGIN { print b * 512 / 1e9 }')"
else
  dir=$2
fi
# The log is in code page 932; its numeric columns are plain ASCII.
LC_ALL=C awk -F, 'NR > 1 && $4 != "" {
    width = $3 - $2 + 1
    printf "step %3d  to %13d  %8.1f s  %8.1f processor s  per 10^7: %7.2f s  %7.2f processor s\n",
           $1, $3, $4, $5, $4 * 1e7 / width, $5 * 1e7 / width
  }' "$dir/_CampaignLog.csv"
