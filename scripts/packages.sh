# Sourced by the scripts: makes sure the Debian packages they need are installed. As root the
# missing ones are installed with apt-get; otherwise the script stops at once with the command
# to run.
#   need_packages PACKAGE:TEST ...   TEST is a command name, or a path that must exist (/...)
need_packages() {
  local missing=() item package test
  for item in "$@"; do
    package=${item%%:*}
    test=${item#*:}
    if [[ "$test" == /* ]]; then
      [[ -e "$test" ]] && continue
    else
      command -v "$test" >/dev/null 2>&1 && continue
    fi
    missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing ${missing[*]} ..." >&2
    DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 &&
      return 0
    echo "Could not install ${missing[*]}." >&2
    exit 1
  fi
  echo "Missing packages. Install them with:" >&2
  echo "    sudo apt-get install ${missing[*]}" >&2
  exit 1
}

# What building the programs needs; kvcampaign needs the primesieve library.
build_packages=(cmake:cmake make:make g++:g++ libprimesieve-dev:/usr/include/primesieve.hpp)
# What the test suite needs beyond the build: GoogleTest and the primesieve program; and, for the
# one test that draws kvreport's page, Chromium with a Japanese font (without the font its labels
# are empty boxes).
test_packages=(googletest:/usr/src/googletest/CMakeLists.txt primesieve:primesieve)
browser_packages=(chromium:/usr/bin/chromium
  fonts-ipafont-gothic:/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf)
# For the tests that run the searches as jobs of several MPI processes (Open MPI).
mpi_packages=(openmpi-bin:mpirun libopenmpi-dev:mpicxx.openmpi)
