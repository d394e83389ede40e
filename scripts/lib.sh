# Shared by scripts/run and scripts/test: installs what is missing on Debian 12 and builds.

KAVREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Everything the project needs to build, test and run.
KAVREL_PACKAGES=(
  build-essential cmake g++ pkg-config
  clang libclang-rt-14-dev                          # libFuzzer and the fuzz targets
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev                    # JPEG pictures and PNG-encoded icons
  libjpeg-turbo-progs                               # djpeg, the reference for the JPEG tests
  qt6-base-dev qt6-base-dev-tools libgl-dev         # the application
  qt6-translations-l10n                             # Chinese texts in Qt's own dialogs
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-xinerama0-dev  # screen capture
  xvfb openbox xdotool xclip x11-utils              # the X11 tests
  qt6-wayland libwayland-dev wayland-protocols      # the program on Wayland: Qt's platform, the compositor's copy
  sway xwayland x11-xserver-utils grim pipewire dbus wl-clipboard   # a headless Wayland desktop for the tests
  xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk  # its screenshot service
  fonts-wqy-microhei                                # Chinese menus and dialogs
  imagemagick netpbm libtiff-tools                  # independent decoders for cross-checks
  python3-pil                                       # Pillow, the independent reader of written PNG files
  desktop-file-utils appstream dpkg-dev file        # install rules and the Debian package, checked
)

# What bench/compare-peers.sh needs besides: the timer and the peers it is timed against, and
# libtiff's headers for the LZW comparison in bench/PhotoLzwBench.cpp. Not needed to build or test.
KAVREL_BENCH_PACKAGES=(
  hyperfine jq graphicsmagick libtiff-dev
)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages [PACKAGE...]: installs those that are missing (default: KAVREL_PACKAGES).
ensure_packages() {
  local wanted=("$@") missing=()
  [ ${#wanted[@]} -gt 0 ] || wanted=("${KAVREL_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"; shift
  cmake -S "$KAVREL_ROOT" -B "$KAVREL_ROOT/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "$KAVREL_ROOT/$dir" -j "$JOBS"
}
