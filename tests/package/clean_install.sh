#!/usr/bin/env bash
# Installs a Debian package of the program into a fresh minimal Debian 12 (mmdebstrap, from the
# distribution's mirror; run as root) and runs the installed program there. Not part of ctest: it
# downloads a few hundred megabytes.
# Usage: tests/package/clean_install.sh PACKAGE.deb
set -euo pipefail
deb="$(realpath "${1:?usage: clean_install.sh PACKAGE.deb}")"
command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing (apt-get install mmdebstrap)" >&2; exit 2; }
scratch="$(mktemp -d "${TMPDIR:-/tmp}/morvane-clean.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cp "$deb" "$scratch/morvane.deb"
mmdebstrap --variant=apt \
    --customize-hook="cp '$scratch/morvane.deb' \"\$1/tmp/morvane.deb\"" \
    --customize-hook='chroot "$1" apt-get install -y -q /tmp/morvane.deb' \
    --customize-hook='chroot "$1" dpkg -s morvane | grep -E "^(Status|Version|Depends):"' \
    --customize-hook='chroot "$1" morvane --version' \
    --customize-hook='chroot "$1" test -f /usr/share/morvane/manual/index.html' \
    --customize-hook='chroot "$1" env HOME=/tmp QT_QPA_PLATFORM=offscreen MORVANE_QUIT_WHEN_READY=1 \
        timeout 60 morvane /usr/share/morvane/manual/index.html' \
    bookworm "$scratch/root.tar"
echo "the package installs on a fresh Debian 12 and runs"
