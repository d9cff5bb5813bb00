# Shared by the scripts: installs what the project needs on Debian and builds.
# shellcheck shell=bash

ORVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build, the tests and the demonstration need.
ORVANE_PACKAGES=(
    cmake ninja-build g++ pkg-config python3
    qtbase5-dev qtbase5-dev-tools qt6-base-dev qt6-qpa-plugins
    util-linux
    clang libclang-rt-14-dev clang-format clang-tidy
    xvfb xdotool
    binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64
)

# Installs whichever of the packages are missing (as root, or through sudo).
install_packages()
{
    local missing=() package
    for package in "${ORVANE_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
}

# build DIR [CMAKE-OPTION...]: configures and builds the project in DIR.
build()
{
    local dir=$1
    shift
    cmake -S "$ORVANE_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}
