#!/usr/bin/env bash
# Files written by one build must be read by the other: both are little-endian and write their
# records without padding. The same sequence of program runs is made in one directory with the
# Linux programs only, with the Windows programs only (under Wine) and with the two alternating;
# every variant must leave the same file bytes and print the same transcripts.
#   scripts/interop.sh LINUX_BIN_DIR WINDOWS_BIN_DIR
set -euo pipefail
export LC_ALL=C
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

primes() {  # primes in [$1, $2), one per line
  awk -v lo="$1" -v n="$2" 'BEGIN { for (i = 2; i < n; i++) s[i] = 1;
    for (i = 2; i * i < n; i++) if (s[i]) for (j = i * i; j < n; j += i) s[j] = 0;
    for (i = lo < 2 ? 2 : lo; i < n; i++) if (s[i]) print i }'
}
mkdir "$work/input"
primes 0 3000 >"$work/input/primes1.txt"
primes 3000 6000 | sed 's/$/\r/' >"$work/input/primes2.txt"  # CR LF lines as from Windows
{ echo "8000:P:0:2:257"; primes 4000 8000 | sed "s/$/ 1/"; } >"$work/input/sieve.txt"

# Program and typed answers of each step, in order.
steps=(
  "kvimport|1\nsieve.txt\n\n\n\n"
  "Kolvex|primes1.txt\n4\n\n"
  "Kolvex|primes2.txt\n3\n\n"
  "kvconvert|2\n\n"
  "kvimport|2\nsieve.txt\n\n\n\n"
  "Kolvex32|\n4\n\n"
  "kvconvert|1\n\n"
  "Kolvex|\n5\n\n"
)

mask() {  # timing numbers and the time-driven progress lines vary from run to run
  sed -E 's/[0-9]+ \[ms\] : /# [ms] : /g' "$1" | grep -av ': finished\. (' || true
}

run_variant() {  # name, then one letter per step: L (Linux) or W (Windows)
  local name=$1 builds=$2 dir="$work/$1" i=0
  mkdir "$dir"
  cp "$work"/input/* "$dir"/
  for step in "${steps[@]}"; do
    local program=${step%%|*} answers=${step#*|} rc=0
    if [[ ${builds:i:1} == W ]]; then
      (cd "$dir" && printf "$answers" | wine "$windows/$program.exe" >"$work/$name.out$i") || rc=$?
    else
      (cd "$dir" && printf "$answers" | "$linux/$program" >"$work/$name.out$i") || rc=$?
    fi
    if [[ $rc != 0 ]]; then
      echo "interop: $program (${builds:i:1}) in $name exited with $rc" >&2
      return 1
    fi
    i=$((i + 1))
  done
}

pattern() {  # one build letter per step, alternating between $1 and $2
  local i out=""
  for ((i = 0; i < ${#steps[@]}; i++)); do out+=$([[ $((i % 2)) == 0 ]] && echo "$1" || echo "$2"); done
  echo "$out"
}
run_variant linux "$(pattern L L)"
failed=0
for variant in "windows:$(pattern W W)" "mixed1:$(pattern W L)" "mixed2:$(pattern L W)"; do
  name=${variant%%:*}
  run_variant "$name" "${variant#*:}"
  # The lock file names the program that worked there last, with its process and time.
  if ! diff -r -x __LOCK___Kolvex.dat "$work/linux" "$work/$name" >/dev/null; then
    echo "interop: the files of $name differ from those of the Linux programs:" >&2
    diff -r -x __LOCK___Kolvex.dat "$work/linux" "$work/$name" >&2 || true
    failed=1
  fi
  for ((i = 0; i < ${#steps[@]}; i++)); do
    if ! cmp -s <(mask "$work/linux.out$i") <(mask "$work/$name.out$i"); then
      echo "interop: step $i (${steps[i]%%|*}) of $name printed another transcript:" >&2
      diff <(mask "$work/linux.out$i" | iconv -f CP932 -t UTF-8 -c) \
        <(mask "$work/$name.out$i" | iconv -f CP932 -t UTF-8 -c) >&2 || true
      failed=1
    fi
  done
done
if [[ $failed != 0 ]]; then exit 1; fi
echo "interop: $(ls "$work/linux" | wc -l) files and ${#steps[@]} transcripts alike in all builds"
