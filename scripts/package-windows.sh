#!/usr/bin/env bash
# Builds quorvel.dll with MinGW-w64 and makes the package for Windows servers,
# quorvel-VERSION-win64.zip, in the Windows build folder (build-win/, or
# $QUORVEL_WIN_BUILD). Prints the package's path on its last line.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ensure_packages
build_windows
(cd "$BUILD" && cpack -G ZIP --config CPackConfig.cmake >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
package=$BUILD/quorvel-$version-win64.zip
[ -f "$package" ] || { echo "package-windows.sh: cpack made no $package" >&2; exit 1; }
echo "$package"
