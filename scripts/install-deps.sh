#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Quiet and quick when everything is already there; refreshes the package lists
# only when something has to be installed.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config clang clang-format
  # Qt 6 (Core, Gui, Widgets, PrintSupport, Test)
  qt6-base-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # comparison peers: GMime and Python's email package with its test data
  libgmime-3.0-dev python3 libpython3.11-testsuite
  # public test mail for the comparisons: a MIME library's test messages (Go source package)
  # and a bounce detector's delivery reports from many mail servers
  golang-github-jhillyerd-enmime-dev python3-flufl.bounce
  # fuzzing runtime for clang (libFuzzer, sanitizers)
  libclang-rt-14-dev
  # sound, POP3 server, desktop bus and printing peers used by later layers
  libasound2-dev libcanberra-dev dovecot-pop3d dbus python3-dbusmock poppler-utils
  # the desktop keyring: libsecret for the program, gnome-keyring as the service in tests
  libsecret-1-dev gnome-keyring
  # the check of the installed desktop entry and of the autostart entry
  desktop-file-utils
  # a notification service on the virtual screen, for the screenshot of a notification
  dunst
  # a headless X server for screenshots and for running the program without a desktop
  xvfb xauth fonts-dejavu-core
  # TLS for POP3 (the library, and the command the tests make their certificates with)
  libssl-dev openssl
  # glyphs for international mail on screen and in print: CJK (Chinese, Japanese, Korean)
  # and emoji, found through the font configuration
  fonts-wqy-zenhei fonts-noto-color-emoji
  # mail readers that read what the delivery targets wrote: a mail indexer over a Maildir
  notmuch
  # POP3 retrieval peer of the network benchmark, and GNU time for the peers' peak memory
  fetchmail time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
