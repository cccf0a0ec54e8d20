# The Debian packages the project needs, and a function that installs the missing ones.
# Source it and call qdx_install_deps, or run it: bash scripts/deps.sh
#
# Add a package to QDX_DEB_PACKAGES, the one list of them; QDX_TOOL_PACKAGES is the part that
# building qdxflash alone needs (the demonstration, the benchmark and the VM test use it).

QDX_TOOL_PACKAGES=(
    # build
    ninja-build cmake g++ pkg-config
    # qdxflash's command line and JSON events (header-only; the Windows builds use them too)
    libcli11-dev nlohmann-json3-dev
    # players arriving (udev) on Linux; unmounting a player's volumes through udisks2 (sd-bus)
    libudev-dev libsystemd-dev
)

QDX_DEB_PACKAGES=(
    "${QDX_TOOL_PACKAGES[@]}"
    # tests and benchmarks
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    # the desktop program
    qt6-base-dev qt6-base-dev-tools libgl-dev
    # Windows builds, and running their tests
    g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32
    g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
    wine64
    # the dialog's Chinese texts, wine's own fonts (the caption buttons' symbols), and a display
    # for the GUI tests
    fonts-wqy-microhei fonts-wine xvfb xauth
    # fuzzing and formatting
    clang-14 libclang-rt-14-dev clang-format
)

# Prints the packages of QDX_DEB_PACKAGES that are not installed, one a line.
qdx_missing_deps() {
    local package status
    for package in "${QDX_DEB_PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        if [[ "$status" != installed ]]; then
            echo "$package"
        fi
    done
}

# Installs the missing packages with apt-get, through sudo when not root. Returns non-zero when
# the installation fails.
qdx_install_deps() {
    local missing
    mapfile -t missing < <(qdx_missing_deps)
    if ((${#missing[@]} == 0)); then
        echo "All ${#QDX_DEB_PACKAGES[@]} packages are installed."
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local asRoot=()
    if [[ $(id -u) -ne 0 ]]; then
        asRoot=(sudo)
    fi
    "${asRoot[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update &&
        "${asRoot[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y --no-install-recommends "${missing[@]}"
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    set -euo pipefail
    qdx_install_deps
fi
