# Helpers of every script here (sourced, not run).

# wait_for SECONDS COMMAND...: runs COMMAND every tenth of a second until it
# succeeds; fails when it has not within SECONDS.
wait_for() {
    local tries=$(($1 * 10))
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# wait_for_file FILE [SECONDS]: until FILE has something in it (10 s).
wait_for_file() { wait_for "${2:-10}" test -s "$1"; }

# run_alone PROGRAM ARGS...: runs a hard link of PROGRAM from a folder of its
# own, PROGRAM's folder/runs/NAME, so that what a program keeps beside itself
# (the error log, the state of the Windows build) is its own while other
# programs run from the same build. NAME is the test a --gtest_filter among
# ARGS selects, else made up. The folder goes when the program succeeds and
# stays for a look when it fails. The words of the array RUN_WITH, when set,
# go in front (an emulator).
run_alone() {
    local program=$1 name='' arg
    shift
    for arg in "$@"; do
        case $arg in --gtest_filter=*) name=${arg#*=} ;; esac
    done
    # Shell expansions, not programs, where they do: this runs before every test.
    local runs=${program%/*}/runs dir
    [ "$runs" != "$program/runs" ] || runs=runs
    if [ -n "$name" ]; then
        dir=$runs/${name//[^A-Za-z0-9._-]/_}
        [ ! -e "$dir" ] || rm -rf "$dir"
        mkdir -p "$dir" || return 1
    else
        mkdir -p "$runs" && dir=$(mktemp -d "$runs/run.XXXXXX") || return 1
    fi
    local copy=$dir/${program##*/}
    ln "$program" "$copy" 2>/dev/null || cp "$program" "$copy" || return 1
    "${RUN_WITH[@]}" "$copy" "$@"
    local rc=$?
    if [ $rc -eq 0 ]; then rm -rf "$dir"; else echo "(the run's folder: $dir)" >&2; fi
    return $rc
}
