#!/usr/bin/env bash
# Formats the C++ sources that git tracks with the repository's .clang-format.
#   scripts/format.sh           formats them in place
#   scripts/format.sh --check   changes nothing; lists the files that formatting would change and
#                               fails (status 1) when there are any
# CLANG_FORMAT names another clang-format (default: clang-format, the Debian 12 package's 14).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *)
    echo "usage: scripts/format.sh [--check]" >&2
    exit 2
    ;;
esac

clang_format=${CLANG_FORMAT:-clang-format}
[[ -n "${CLANG_FORMAT:-}" ]] || need_packages clang-format:clang-format

# The tracked sources, build directories left out (build/, build-asan/, build-fuzz/, ...).
git rev-parse --is-inside-work-tree >/dev/null
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h' ':!:build/**' ':!:build-*/**')
if ((${#files[@]} == 0)); then
  echo "format.sh: git lists no C++ sources" >&2
  exit 2
fi

changed=()
for file in "${files[@]}"; do
  if ((check)); then
    "$clang_format" --style=file "$file" | cmp -s - "$file" || changed+=("$file")
  else
    "$clang_format" --style=file -i "$file"
  fi
done

if ((check)); then
  if ((${#changed[@]} > 0)); then
    echo "Not formatted as .clang-format says (${#changed[@]} of ${#files[@]} files):" >&2
    printf '  %s\n' "${changed[@]}" >&2
    echo "Run scripts/format.sh to format them." >&2
    exit 1
  fi
  echo "All ${#files[@]} C++ sources are formatted."
fi
