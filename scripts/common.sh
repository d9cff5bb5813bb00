# Shared by the scripts: installs what the project needs on Debian and builds.
# shellcheck shell=bash

ORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages that building and running the programs need (the
# demonstration installs only these); Qt's translations make Qt's own dialogs
# speak Russian. (The arrays are for the scripts that source this file.)
# shellcheck disable=SC2034
ORVANE_BUILD_PACKAGES=(
    cmake ninja-build g++
    qtbase5-dev qtbase5-dev-tools qttranslations5-l10n
)
# What the tests and checks need on top: Qt 6, the sanitizer and fuzzing
# compilers, the style tools, a virtual X display with X resources for the
# desktop's scale, MinGW-w64 (64-bit and 32-bit) with Wine for the Windows
# parts (wine32 is an i386 package: the machine gains that architecture),
# with fonts that stand in for Windows' dialog fonts, and for the power-cut
# stage QEMU, a static BusyBox for the guest, cpio for its initramfs and the
# ext4 tools.
# shellcheck disable=SC2034
ORVANE_TEST_PACKAGES=(
    pkg-config python3
    qt6-base-dev qt6-qpa-plugins qt6-translations-l10n
    util-linux
    clang libclang-rt-14-dev clang-format clang-tidy shellcheck
    xvfb xdotool x11-xserver-utils strace locales
    binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64
    binutils-mingw-w64-i686 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix wine32:i386
    fonts-liberation
    dpkg-dev make perl
    qemu-system-x86 busybox-static cpio e2fsprogs
)

# as_root COMMAND...: runs the command as root, through sudo when this shell
# is not root already.
as_root()
{
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# install_packages PACKAGE...: installs whichever of them are missing. A
# package named NAME:i386 first adds that architecture to the machine; such
# packages are installed after the others.
install_packages()
{
    local missing=() native=() foreign=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    echo "Installing: ${missing[*]}"
    for package in "${missing[@]}"; do
        case $package in
            *:i386) foreign+=("$package") ;;
            *) native+=("$package") ;;
        esac
    done
    if ((${#foreign[@]})) && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    # One index that cannot be fetched (a mirror half-way through a sync)
    # need not stop the install: apt says below what it lacks if it matters.
    as_root apt-get update ||
        echo "Not every package index could be fetched; installing from those that were" >&2
    if ((${#native[@]})); then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
            "${native[@]}"
    fi
    ((${#foreign[@]})) || return 0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        "${foreign[@]}" || install_with_matching_architectures "${foreign[@]}"
}

# install_with_matching_architectures PACKAGE...: installs them taking every
# package from the release itself rather than its updates. A library that
# both architectures carry must be of one version in both; when the i386
# index of the updates is missing, the release is where both versions are.
# The machine's amd64 libraries move to the release's versions with it.
install_with_matching_architectures()
{
    local preferences code=0
    preferences=$(mktemp)
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' \
        "$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)" >"$preferences"
    chmod 644 "$preferences"
    echo "Installing again with the release's own versions for both architectures" >&2
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        --allow-downgrades -o Dir::Etc::Preferences="$preferences" "$@" || code=$?
    rm -f "$preferences"
    return "$code"
}

# configure DIR [CMAKE-OPTION...]: configures the project in DIR.
configure()
{
    local dir=$1
    shift
    cmake -S "$ORVANE_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

# ensure_locale NAME: generates a locale such as ru_RU.UTF-8 when it is
# missing (Wine needs one to pass Cyrillic command lines on).
ensure_locale()
{
    local name=$1 normalised
    normalised=$(echo "${name}" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
    locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | grep -qx "$normalised" && return 0
    as_root localedef -i "${name%%.*}" -f "${name#*.}" "$name"
}

# build DIR [CMAKE-OPTION...]: configures and builds the project in DIR.
build()
{
    configure "$@"
    cmake --build "$1" --parallel "$(nproc)"
}
