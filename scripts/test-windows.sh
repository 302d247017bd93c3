#!/usr/bin/env bash
# Builds quorvel.dll with MinGW-w64 into build-win/ and runs its tests under
# Wine with CTest (see tests/windows.cmake): registration, the unit tests
# built for Windows, the VBScript tests of tests/wine/ (CreateObject and late
# binding, as the control panel calls it), a compiled early-binding client,
# unregistration, and the package installed by its INSTALL.txt, two at a
# time. Arguments go to ctest after that (e.g. -R vbs: for the scripts only,
# -j1 for one at a time); exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ensure_packages
echo "== build"
build_windows
echo "== tests"
cd "$BUILD"
ctest -j2 --output-on-failure "$@"
