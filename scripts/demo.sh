#!/usr/bin/env bash
# Builds the programs and runs a demo search in demo/ with no typed input: the primes below
# 20000 are written to a file, Kolvex merges them into a new table and searches it, saving
# progressions of 6 terms or more.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs" --target Kolvex
rm -rf demo && mkdir demo && cd demo
# The primes below 20000, one per line.
awk 'BEGIN { n = 20000; for (i = 2; i < n; i++) s[i] = 1;
             for (i = 2; i * i < n; i++) if (s[i]) for (j = i * i; j < n; j += i) s[j] = 0;
             for (i = 2; i < n; i++) if (s[i]) print i }' > primes.txt
printf 'primes.txt\n6\n\n' | ../build/bin/Kolvex | iconv -f CP932 -t UTF-8
echo
ls -l
