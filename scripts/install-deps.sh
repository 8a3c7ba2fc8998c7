#!/usr/bin/env bash
# Installs from Debian's packages what building, testing and the demo need,
# and only what is missing: a second run changes nothing.
set -euo pipefail

packages=(
  # build tools
  g++ cmake ninja-build make pkg-config
  # libraries
  qt6-base-dev qt6-image-formats-plugins libqt6svg6 libzip-dev libpugixml-dev
  libjpeg-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  python3-docx python3-pil poppler-utils libjpeg-turbo-progs zip unzip
  libreoffice-writer-nogui
  # fuzzing (scripts/fuzz.sh)
  clang libclang-rt-14-dev
  # screenshots of the window
  xvfb xauth
  # installing and packaging: the .deb (CPack needs file and dpkg-shlibdeps),
  # and the checkers of the desktop entry, metainfo, man page and package
  file dpkg-dev desktop-file-utils appstream shared-mime-info groff-base lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
