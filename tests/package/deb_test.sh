#!/usr/bin/env bash
# Makes the Debian package from a built tree, installs it into a scratch root with dpkg, runs
# the installed program, and validates its desktop file and AppStream metainfo.
# Usage: deb_test.sh BUILD_DIR. Exits 77 (skipped) when a packaging tool is missing.
set -euo pipefail
build="$(cd "${1:?usage: deb_test.sh BUILD_DIR}" && pwd)"

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/deps.sh installs it)"
        exit 77
    fi
done

scratch="$(mktemp -d "${TMPDIR:-/tmp}/morvane-deb.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The package.
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log" >&2; fail "cpack did not make the package"; }
debs=("$scratch"/out/morvane_*.deb)
[ -f "${debs[0]}" ] || fail "no morvane_*.deb in $(ls "$scratch/out")"
deb="${debs[0]}"
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# Its dependencies are declared: the Qt, TLS and keyring libraries' packages.
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for lib in libqt6widgets6 libssl3 libsecret-1-0 libc6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends does not name $lib"
done

# Installed into a scratch root by dpkg itself (the libraries come from this machine).
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --force-not-root --force-depends --force-script-chrootless --root="$root" \
    --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log" >&2; fail "dpkg could not install the package"; }
dpkg --root="$root" -s morvane | grep -q '^Status: install ok installed' ||
    fail "dpkg does not list the package as installed"

for f in usr/bin/morvane usr/bin/morvane-ftp usr/share/morvane/manual/index.html \
    usr/share/morvane/data/filetypes.txt usr/share/applications/morvane.desktop \
    usr/share/icons/hicolor/scalable/apps/morvane.svg \
    usr/share/metainfo/org.morvane.Morvane.metainfo.xml; do
    [ -e "$root/$f" ] || fail "$f is not installed"
done
for img in $(grep -o 'images/[a-z-]*\.png' "$root/usr/share/morvane/manual/index.html"); do
    [ -s "$root/usr/share/morvane/manual/$img" ] || fail "the manual's $img is not installed"
done

version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/morvane" --version)"
echo "installed program: $version"
expected="$(dpkg-deb -f "$deb" Version)"
[[ "$version" == "morvane ${expected%-*}."* ]] || fail "--version says '$version', the package $expected"
"$root/usr/bin/morvane-ftp" --help >/dev/null 2>&1 || [ $? -le 2 ] ||
    fail "the installed morvane-ftp does not run"

desktop-file-validate "$root/usr/share/applications/morvane.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.morvane.Morvane.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q '<screenshot type="default">' "$root/usr/share/metainfo/org.morvane.Morvane.metainfo.xml" ||
    fail "the metainfo has no screenshot"

# apt resolves the declared dependencies from the distribution's packages.
if command -v apt-get >/dev/null; then
    apt-get -s -qq install "$deb" >"$scratch/apt.log" 2>&1 ||
        { cat "$scratch/apt.log" >&2; fail "apt cannot resolve the package's dependencies"; }
fi
echo "the package installs, runs and validates"
