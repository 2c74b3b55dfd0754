#!/usr/bin/env bash
# Builds the Debian packages (libvorex1, libvorex-dev, vorex-tools,
# python3-vorex, vorex-bridge) from a scratch copy of the tree, puts them in build/debs
# and runs lintian over them. Exits non-zero on a build failure or a
# lintian error; warnings are listed.
# Usage: scripts/ci-debs.sh [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}
out=$PWD/build/debs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# dpkg-buildpackage writes next to the source tree, so the tree is copied.
mkdir "$work/vorex"
tar -C . --exclude=./build --exclude=./.git --exclude=./demo-output -cf - . | tar -C "$work/vorex" -xf -
if ! (cd "$work/vorex" && DEB_BUILD_OPTIONS="parallel=$jobs" dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log"
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"
mv "$work"/*.deb "$out"/
ls "$out"

# Errors fail; warnings and the rest are shown.
lintian --display-level ">=warning" --fail-on error "$out"/*.deb
