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

# i386 libraries must carry the very version of their amd64 twins. When the
# mirror's i386 list of the security suite is behind its amd64 list, the i386
# library exists only at the point release's version: names both twins at it.
twins_at_i386_version() {  # twins_at_i386_version PACKAGE:i386
    local p version installed
    for p in $(LC_ALL=C apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
        --no-breaks --no-replaces --no-enhances "$1" | grep -o '^[a-z0-9][a-z0-9.+-]*:i386$'); do
        version=$(LC_ALL=C apt-cache policy "$p" | awk '$1 == "Candidate:" { print $2 }')
        installed=$(dpkg-query -W -f='${Version}' "${p%:i386}:amd64" 2>/dev/null) || continue
        [ -n "$version" ] && [ "$version" != "(none)" ] && [ "$installed" != "$version" ] &&
            apt-cache show "$p" 2>/dev/null | grep -qx 'Multi-Arch: same' &&
            echo "${p%:i386}:amd64=$version $p=$version"
    done
}

install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    # A mirror caught mid-sync fails one list: try again once, then install
    # from the lists that did arrive (the install says what is missing).
    apt-get update -qq || { sleep 10; apt-get update -qq; } || echo "setup: some package lists are not current"
    if ! install "${missing[@]}"; then
        echo "setup: installing the 32-bit Wine with its libraries at the versions the i386 lists have"
        others=()
        for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || others+=("$p"); done
        ((${#others[@]} == 0)) || install "${others[@]}"
        # shellcheck disable=SC2046 # one word per package and version
        install --allow-downgrades wine32:i386 $(twins_at_i386_version wine32:i386)
    fi
fi

# Wine reads the ANSI code page from the locale: ja_JP.UTF-8 gives 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
