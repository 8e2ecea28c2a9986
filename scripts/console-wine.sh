#!/usr/bin/env bash
# The console path of the Windows programs: started on a terminal, Wine gives them a console, so
# their code page 932 texts must arrive as Unicode (UTF-8 on the terminal) and typed lines must be
# read back. `script` supplies the terminal; Enter is a CR there.
#   scripts/console-wine.sh WINDOWS_BIN_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Input typed before Wine has set up the console is echoed by the terminal and lost, so Enter is
# pressed once a second until the program has ended.
rc=0
(trap '' PIPE; for _ in $(seq 60); do sleep 1; printf '\r' 2>/dev/null || break; done) |
  LANG=C.UTF-8 timeout 90 script -qec "wine '$bin/Kolvex.exe'" /dev/null >terminal.txt || rc=$?
for text in "Kolvex ver0.22" "データが有りません。" "終了します。Press Enter Key."; do
  if ! grep -qF "$text" terminal.txt; then
    echo "console-wine: \"$text\" missing on the terminal:" >&2
    cat -v terminal.txt >&2
    exit 1
  fi
done
# With no table and nothing added the run ends without work: status 1.
if [[ $rc != 1 ]]; then
  echo "console-wine: Kolvex.exe did not end with status 1 after Enter (status $rc)" >&2
  exit 1
fi
echo "console-wine: texts shown as Unicode, Enter read"
