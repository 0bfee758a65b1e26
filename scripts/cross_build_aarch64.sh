#!/usr/bin/env bash
# Cross-compiles the extension for Linux aarch64 and checks that the result is
# an aarch64 shared object. On Debian as root it first installs what is
# missing: the cross compiler, the arm64 Python headers (multiarch), cmake.
#
#     bash scripts/cross_build_aarch64.sh [BUILD_DIR]    (default build/aarch64)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/aarch64}

arm64_headers() { ls -d /usr/include/aarch64-linux-gnu/python3.* 2>/dev/null | sort -V | tail -n 1; }
# A cmake that runs: a pyenv shim may name one that the active Python lacks.
cmake_command() {
  if cmake --version >/dev/null 2>&1; then echo cmake; elif [ -x /usr/bin/cmake ]; then echo /usr/bin/cmake; fi
}

missing=()
command -v aarch64-linux-gnu-g++ >/dev/null 2>&1 || missing+=(g++-aarch64-linux-gnu)
[ -n "$(arm64_headers)" ] || missing+=(libpython3-dev:arm64)
[ -n "$(cmake_command)" ] || missing+=(cmake)
make --version >/dev/null 2>&1 || missing+=(make)
command -v file >/dev/null 2>&1 || missing+=(file)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "missing: ${missing[*]} (install them, or run as root on Debian)" >&2
    exit 1
  fi
  echo "== installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake=$(cmake_command)
# The arm64 headers' version, e.g. 3.11; /usr/include/python3.X/pyconfig.h
# picks the aarch64 configuration when the cross compiler includes it. The
# build machine's interpreter of that version only answers CMake's queries.
headers=$(arm64_headers)
python_version=${headers##*/python}
python=/usr/bin/python$python_version
[ -x "$python" ] || python=$(command -v python3)
# The version is written once, in pyproject.toml; pip's backend passes it to
# CMake, so a direct CMake build passes it too.
version=$(sed -n 's/^version *= *"\(.*\)"/\1/p' pyproject.toml | head -n 1)

mkdir -p "$build_dir"
log="$build_dir/cross_build.log"
echo "== cross-compiling mervanta $version for aarch64 against Python $python_version headers"
"$cmake" -S . -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DSKBUILD_PROJECT_VERSION="$version" \
  -DPython_EXECUTABLE="$python" \
  -DPython_INCLUDE_DIR="/usr/include/python$python_version" >"$log" 2>&1 ||
  { cat "$log"; exit 1; }
"$cmake" --build "$build_dir" -j "$(nproc)" >>"$log" 2>&1 || { cat "$log"; exit 1; }

library=$(ls "$build_dir"/_core*.so)
description=$(file -b "$library")
echo "== $library: $description"
case "$description" in
  *"ELF 64-bit"*"ARM aarch64"*) ;;
  *) echo "not an aarch64 shared object" >&2; exit 1 ;;
esac
