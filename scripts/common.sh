# Shared by scripts/run, scripts/test and scripts/screenshot: the Debian packages
# Tessaly needs (named here and nowhere else) and the install step.
# shellcheck shell=bash

TESSALY_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libcurl4-openssl-dev libutf8proc-dev libidn2-dev nlohmann-json3-dev libldns-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-wqy-microhei imagemagick
  openssl libssl-dev ca-certificates
  desktop-file-utils appstream dpkg-dev file librsvg2-bin lintian
  libx11-dev x11-utils
)

repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

missing_packages() {
  local p missing=()
  for p in "${TESSALY_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

install_packages() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Tessaly needs these Debian packages; install them with:" >&2
    echo "  sudo apt-get install -y --no-install-recommends $missing" >&2
    return 1
  fi
  echo "installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
}

# configure_and_build DIR BUILD_TYPE [extra cmake args...]
configure_and_build() {
  local dir=$1 type=$2
  shift 2
  cmake -S "$(repo_root)" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)"
}
