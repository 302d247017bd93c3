#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Usage: install-deps.sh [posix|windows|package|all]
#   posix: the POSIX build with its tests; windows: the Windows build and Wine
#   for its tests; package: only what scripts/package-windows.sh needs
set -euo pipefail

want=${1:-all}
posix=(build-essential cmake ninja-build pkg-config python3 googletest libgtest-dev libgmock-dev
       libbenchmark-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev libacl1-dev acl libcpp-httplib-dev)
windows=(g++-mingw-w64-x86-64 mingw-w64-tools wine64 libwine-dev zip unzip)
# The DLL and its type library: the compiler, widl, Wine's IDL files and stdole2.tlb.
package=(cmake ninja-build python3 g++-mingw-w64-x86-64 mingw-w64-tools wine64 libwine-dev)

case "$want" in
  posix) packages=("${posix[@]}") ;;
  windows) packages=("${windows[@]}") ;;
  package) packages=("${package[@]}") ;;
  *) packages=("${posix[@]}" "${windows[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
