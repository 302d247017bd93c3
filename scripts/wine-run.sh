#!/usr/bin/env bash
# wine-run.sh PROGRAM ARGS...: runs a Windows program of the build under Wine,
# in the build's prefix (made on first use) with the ANSI code page 936, from
# a folder of its own (see run_alone in common.sh). The emulator of the
# Windows build's tests; QUORVEL_WIN_BUILD names the build (build-win/).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

make_prefix || { echo "wine-run.sh: cannot make the Wine prefix $PREFIX" >&2; exit 1; }
serve_wine
# Wine's console keeps a program's output open for a second after the
# program ended, and CTest waits for it: the program writes to a file,
# shown once it ended.
wine_to_file() {
    local output rc
    output=$(mktemp) || return 1
    wine "$@" >"$output" 2>&1
    rc=$?
    cat "$output"
    rm -f "$output"
    return $rc
}
RUN_WITH=(wine_to_file)
run_alone "$@"
