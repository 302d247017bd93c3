# Shared by the scripts of the Windows build and its tests (sourced, not run):
# the build itself, a private Wine prefix with the Simplified Chinese ANSI
# code page 936, and running scripts with cscript in it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUORVEL_WIN_BUILD:-$ROOT/build-win}
PREFIX=$BUILD/wineprefix
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Mono and Gecko are not needed; without this, wineboot asks to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEPREFIX=$PREFIX

# The packages of both builds: the tests of the Windows build use the
# webmail stand-in of the POSIX build.
ensure_packages() { "$ROOT/scripts/install-deps.sh" all; }

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

# make_prefix [--check]: makes the prefix on first use; with --check, also
# again when it has another code page. Runs that start at once make it once
# (Wine's programs must not inherit the lock: its servers stay).
make_prefix() {
    mkdir -p "$BUILD" || return 1
    (
        flock 9
        if [ "${1:-}" = --check ] && [ -f "$PREFIX/system.reg" ]; then
            serve_wine 9>&-
            if ! wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null 9>&- |
                grep -q 936; then
                echo "the Wine prefix has another code page; making it again"
                stop_wine 9>&-
                rm -rf "$PREFIX"
            fi
        fi
        if [ ! -f "$PREFIX/system.reg" ]; then
            mkdir -p "$PREFIX"
            wine wineboot -i >/dev/null 2>&1 9>&- || exit 1
            # Its server would end soon and a program would start the next.
            stop_wine 9>&-
        fi
    ) 9>"$BUILD/wineprefix.lock"
}

# One wineserver for a whole run, so that each program starts in a moment.
# Its first program starts Wine's own services, which stay as long as it:
# they get nowhere to write, so that they never hold a caller's pipe open
# (CTest waits for a test's output to end). Does nothing when a server
# already runs for this prefix.
serve_wine() {
    if "$WINESERVER" -p >/dev/null 2>&1 </dev/null; then
        wine cmd /c exit >/dev/null 2>&1
    fi
}

stop_wine() {
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w >/dev/null 2>&1 </dev/null
}

# The prefix and its server for a script that ends them when it ends.
start_wine() {
    make_prefix --check || return 1
    serve_wine
    trap stop_wine EXIT
}

# to_ansi OUT FILE...: the files, joined, in the system code page, the
# encoding cscript reads a script in.
to_ansi() {
    local out=$1
    shift
    cat "$@" | iconv -f UTF-8 -t GBK >"$out"
}

# from_ansi FILE: a text written in the system code page (by the component,
# or by a script: Wine's cscript overruns its buffer when it echoes
# double-byte text), as UTF-8 with LF line ends.
from_ansi() {
    iconv -c -f GBK -t UTF-8 "$1" | tr -d '\r'
}

# cscript SCRIPT ARGS...: runs a script (a Linux path) with Wine's cscript.
cscript() {
    local script=$1
    shift
    wine cscript //nologo "$(winpath "$script")" "$@"
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

# webmail_port FILE: the port in the first words of `quorvel webmail`.
webmail_port() {
    sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1"
}

# start_webmail MAILDIR: runs `quorvel webmail` on a free port in the
# background; sets WEBMAIL_PID and WEBMAIL_PORT.
start_webmail() {
    local host out
    host=$(posix_host) || return 1
    out=$(mktemp)
    "$host" webmail --mail-dir "$1" --port 0 >"$out" 2>&1 &
    WEBMAIL_PID=$!
    wait_for 10 grep -q '^listening on' "$out"
    WEBMAIL_PORT=$(webmail_port "$out")
    rm -f "$out"
    [ -n "$WEBMAIL_PORT" ]
}

stop_webmail() {
    [ -n "${WEBMAIL_PID:-}" ] && kill "$WEBMAIL_PID" 2>/dev/null && wait "$WEBMAIL_PID" 2>/dev/null
    WEBMAIL_PID=
}
