#!/usr/bin/env bash
# Installs the Debian packages that building and testing Brontel needs.
# Does nothing (and needs no network) when all of them are already installed.
set -euo pipefail

# One package per line; add new build or test dependencies here.
PACKAGES=(
  cmake
  ninja-build
  g++
  libgtest-dev
  libbenchmark-dev
  clang
  libclang-rt-14-dev
  pkg-config
  nlohmann-json3-dev
  libcurl4-openssl-dev
  libsystemd-dev
  dbus-daemon
  libcpp-httplib-dev
  libsqlite3-dev
  libsodium-dev
  libssl-dev
  openssl
  # For benchmarks only (bench/xml_parse_bench compares the library's XML
  # parser with them); the library itself depends on neither.
  libexpat1-dev
  libpugixml-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=()
if ((EUID != 0)); then
  SUDO=(sudo)
fi

# Mirrors can fail transiently; try a few times before giving up.
for attempt in 1 2 3; do
  if "${SUDO[@]}" apt-get update -q &&
    "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    exit 0
  fi
  echo "deps: apt-get failed (attempt $attempt), retrying" >&2
  sleep $((attempt * 5))
done
echo "deps: could not install ${missing[*]}" >&2
exit 1
