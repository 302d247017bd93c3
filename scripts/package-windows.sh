#!/usr/bin/env bash
# Makes the package for Windows servers, quorvel-VERSION-win64.zip, in a build
# folder of its own (build-win-package/, or $QUORVEL_WIN_PACKAGE_BUILD). It
# builds only what the package holds: quorvel.dll (packed without its debug
# sections), its type library and the texts beside them; no tests, no
# stand-ins. Prints the package's path on its last line.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUORVEL_WIN_PACKAGE_BUILD:-$ROOT/build-win-package}

"$ROOT/scripts/install-deps.sh" package
cmake -S "$ROOT" -B "$BUILD" -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF -DQUORVEL_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target quorvel_package_files
(cd "$BUILD" && cpack -G ZIP --config CPackConfig.cmake >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
package=$BUILD/quorvel-$version-win64.zip
[ -f "$package" ] || { echo "package-windows.sh: cpack made no $package" >&2; exit 1; }
echo "$package"
