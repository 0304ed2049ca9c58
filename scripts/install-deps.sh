#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Pilvo.
# Idempotent: only missing packages are installed. Run as root (or via sudo).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libglib2.0-dev libsqlite3-dev libx11-dev libxi-dev libxres-dev libxss-dev libxtst-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev nlohmann-json3-dev libgdk-pixbuf-2.0-dev
  libsoup-3.0-dev libxml2-dev
  # SVG application icons through GdkPixbuf
  librsvg2-common hicolor-icon-theme
  # Wayland backend: client library, scanner and protocol descriptions
  libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols
  # nudges on wlroots compositors: layer surfaces
  libgtk-layer-shell-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  sqlite3 xvfb openbox xdotool wmctrl x11-utils x11-apps xterm dbus dbus-x11
  picom
  desktop-file-utils procps imagemagick iproute2 python3 jq
  # the interface's JavaScript tests and benchmark
  nodejs
  # tray: trayer is an XEmbed tray; its menu is read through the accessibility bus
  trayer at-spi2-core python3-gi gir1.2-atspi-2.0
  # headless wlroots compositor and Wayland clients for the Wayland tests
  sway foot wtype grim
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then exec sudo "$0" "$@"; fi
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run this script as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
