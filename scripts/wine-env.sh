# Shared by test-windows.sh and demo-windows.sh (sourced, not run): the
# packages of the Windows build, the build itself, and a private Wine prefix
# with the Simplified Chinese ANSI code page 936.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUORVEL_WIN_BUILD:-$ROOT/build-win}
PREFIX=$BUILD/wineprefix
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Mono and Gecko are not needed; without this, wineboot asks to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEPREFIX=$PREFIX

ensure_packages() {
    local missing=() pkg
    # The POSIX host (for the webmail stand-in the mail tests talk to) needs the
    # packages of the POSIX build as well.
    for pkg in cmake ninja-build python3 g++-mingw-w64-x86-64 mingw-w64-tools wine64 libwine-dev googletest \
        zip unzip pkg-config libsqlite3-dev libcurl4-openssl-dev libcpp-httplib-dev; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_windows() {
    cmake -S "$ROOT" -B "$BUILD" -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCHMARKS=OFF >/dev/null &&
        cmake --build "$BUILD" -j2
}

# Wine with the zh_CN locale (ANSI code page 936), reading nothing from the
# terminal. LC_ALL is set for Wine only: the Linux locale need not exist.
wine() {
    env LC_ALL=zh_CN.UTF-8 "$WINE64" "$@" </dev/null
}

# Z:\ is the Linux root in every Wine prefix.
winpath() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}

# Makes the prefix on first use and starts one wineserver for the whole run,
# so that each program starts in about a second. Its output goes nowhere, so
# that it never holds our caller's pipe open.
start_wine() {
    if [ -f "$PREFIX/system.reg" ] && ! wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | grep -q '936'; then
        echo "the Wine prefix has another code page; making it again"
        "$WINESERVER" -k >/dev/null 2>&1 </dev/null
        rm -rf "$PREFIX"
    fi
    if [ ! -f "$PREFIX/system.reg" ]; then
        mkdir -p "$PREFIX"
        wine wineboot -i >/dev/null 2>&1 || return 1
    fi
    # Fails harmlessly when one already runs for this prefix.
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    trap stop_wine EXIT
}

stop_wine() {
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w >/dev/null 2>&1 </dev/null
}

# The ProgID, class, interface and library identifiers, from the IDL.
idl_guid() {
    # $1: library | interface | coclass
    python3 - "$ROOT/component/quorvel.idl" "$1" <<'PY'
import re, sys
idl = re.sub(r"//[^\n]*", "", open(sys.argv[1], encoding="utf-8").read())
m = re.search(r"uuid\(([0-9a-fA-F-]{36})\)[^\]]*\]\s*" + sys.argv[2] + r"\b", idl)
print("{" + m.group(1).upper() + "}")
PY
}

# The webmail stand-in of the POSIX build, for the mail methods of the
# Windows build: a Wine process reaches it on 127.0.0.1 like any local server.
# Uses the host of build/ when there is one, else builds one (no tests).
posix_host() {
    if [ -x "$ROOT/build/quorvel" ]; then
        echo "$ROOT/build/quorvel"
        return 0
    fi
    cmake -S "$ROOT" -B "$BUILD/posix-host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF \
        -DQUORVEL_BENCHMARKS=OFF >/dev/null &&
        cmake --build "$BUILD/posix-host" -j2 --target quorvel_host >/dev/null &&
        echo "$BUILD/posix-host/quorvel"
}

# start_webmail MAILDIR: runs `quorvel webmail` on a free port in the
# background; sets WEBMAIL_PID and WEBMAIL_PORT.
start_webmail() {
    local host out
    host=$(posix_host) || return 1
    out=$(mktemp)
    "$host" webmail --mail-dir "$1" --port 0 >"$out" 2>&1 &
    WEBMAIL_PID=$!
    for _ in $(seq 100); do
        WEBMAIL_PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")
        [ -n "$WEBMAIL_PORT" ] && break
        kill -0 "$WEBMAIL_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$out"
    [ -n "$WEBMAIL_PORT" ]
}

stop_webmail() {
    [ -n "${WEBMAIL_PID:-}" ] && kill "$WEBMAIL_PID" 2>/dev/null && wait "$WEBMAIL_PID" 2>/dev/null
    WEBMAIL_PID=
}
