#!/bin/bash
# Installs what building, running and testing Vantrel needs on Debian 12.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PACKAGES=(
    cmake g++ make libgtest-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
    # 32-bit Windows programs and drivers run under the i386 Wine.
    wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick fonts-ipafont-gothic locales
    # Wine's own fonts: without them the caption buttons are drawn as letters.
    fonts-wine
    # Test code signing of the Windows build.
    openssl osslsigncode
    # A real print queue that writes PDF files, and the tools to read them.
    cups printer-driver-cups-pdf poppler-utils
)

# wine32 comes from the i386 architecture; the update below then fetches its lists.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    # A mirror caught mid-sync fails one list: try again once, then install
    # from the lists that did arrive (the install says what is missing).
    apt-get update -qq || { sleep 10; apt-get update -qq; } || echo "setup: some package lists are not current"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine reads the ANSI code page from the locale: ja_JP.UTF-8 gives 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
