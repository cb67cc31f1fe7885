# Shared by scripts/run and scripts/test: package checks and the build.
# shellcheck shell=bash

QUELLAN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What building needs on Debian 12; the test script adds its own.
QUELLAN_BUILD_PACKAGES=(cmake g++ make pkg-config libicu-dev qt6-base-dev
    libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-res0-dev libwayland-dev plasma-wayland-protocols
    libgtest-dev libbenchmark-dev)

# Installs whichever of the named apt packages are missing, and only those.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "These packages are missing and sudo is not available: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) and run this again." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Configures and builds into $1 with any further CMake arguments.
build_into() {
    local dir="$1"
    shift
    cmake -S "$QUELLAN_ROOT" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
