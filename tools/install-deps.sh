#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, skipping
# those already present.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          python3
          # PCRE2 for the regular-expression search
          libpcre2-dev
          # Qt 6 for the windows (UiTools needs the OpenGL development files),
          # Xvfb for tools/screenshot.sh, fonts for the Chinese texts and an
          # icon theme for the lists
          qt6-base-dev qt6-tools-dev libqt6opengl6-dev libgl-dev qt6-qpa-plugins
          xvfb xauth fonts-wqy-microhei fonts-dejavu-core adwaita-icon-theme
          # libcurl for the update check and the usage report; xdg-open
          # for opening results with the desktop's programs
          libcurl4-openssl-dev xdg-utils
          # the updater: libxml2 for its manifests, OpenSSL for MD5, and the
          # openssl tool for the test certificate of its https test
          libxml2-dev libssl-dev openssl
          # the tips bubble: the accessibility library and Xlib; its desktop
          # tests run a real desktop with an accessibility bus
          libatspi2.0-dev libx11-dev at-spi2-core libatk-adaptor dbus dbus-x11 pcmanfm
          # the Debian package and its test: debhelper builds it, lintian,
          # desktop-file-validate and appstreamcli check it, scdoc makes the
          # manual pages, rsvg-convert the icons; zsh and fish load the
          # completions in their test
          debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream scdoc librsvg2-bin
          zsh fish
          # clang and its sanitizer and fuzzer runtimes for tools/run-fuzz.sh
          # (the saved index's readers under libFuzzer)
          clang libclang-rt-14-dev
          # NTFS volumes: mkntfs and ntfs-3g make and fill the test volumes
          # (FUSE), Sleuth Kit's fls lists them for comparison, bzip2
          # unpacks a sample image; losetup (mount), setpriv and lsblk
          # (util-linux) for the loop-device tests
          ntfs-3g fuse3 sleuthkit bzip2 mount util-linux
          ${QV_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
