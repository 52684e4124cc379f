#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing BrimoraUpgrade need.
# Idempotent: installs only what is missing and prints nothing when nothing is.
set -euo pipefail

packages=(
  g++ cmake ninja-build
  clang libclang-rt-14-dev
  libfmt-dev libpugixml-dev libacl1-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  subversion 7zip acl util-linux e2fsprogs python3
  scdoc dpkg-dev lintian man-db systemd   # the man page, and the Debian package's build and checks
  xfsprogs rsync   # a file system that clones, for the incremental backup test; rsync for the benchmark
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "bootstrap: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
