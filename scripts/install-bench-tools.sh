#!/bin/sh
# Installs the peers and tools that `make bench` needs beside the build
# tools: 7-Zip (7zz), gnuplot for the chart and GNU time. Safe to run again.
set -eu
PACKAGES="7zip gnuplot-nox time tar zstd zip unzip python3 gzip xz-utils libarchive-tools"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    # (sudo drops the environment: the setting goes on its command line)
    APT="$SUDO env DEBIAN_FRONTEND=noninteractive apt-get"
    echo "installing:$missing"
    $APT install -y -q --no-install-recommends $missing || {
        $APT update -q
        $APT install -y -q --no-install-recommends $missing
    }
fi
