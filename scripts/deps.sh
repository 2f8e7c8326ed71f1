#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent: prints nothing and touches nothing when all are present.
set -euo pipefail
pkgs=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev fonts-dejavu-core fonts-wqy-microhei fonts-noto-mono
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-pyftpdlib vsftpd
    xvfb xdotool imagemagick poppler-utils xclip
    clang libclang-rt-14-dev
    curl lz4 bc wget
    util-linux procps
    libpcre2-dev
    libssl-dev openssl python3-openssl
    libssh-dev openssh-server openssh-client
    rsh-server
    chromium unrtf source-highlight
    libsecret-1-dev gnome-keyring dbus dbus-bin libsecret-tools libglib2.0-bin
    dpkg-dev file desktop-file-utils appstream
)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq >/dev/null
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
