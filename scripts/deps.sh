#!/usr/bin/env bash
# Installs the packages the project needs on Debian 12, and any packages named
# as arguments (skipped when present).
set -euo pipefail
PKGS="cmake ninja-build g++ pkg-config libxml2-dev nlohmann-json3-dev googletest libgtest-dev
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 msitools wixl libmsi-dev libgsf-1-dev $*"
missing=""
for p in $PKGS; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # An index that fails to download (the i386 one of the Windows stage's
  # wine32, say) leaves apt-get update with 100; the others are used.
  $SUDO apt-get update || echo "deps: apt-get update reported errors; using the indexes it has" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
