#!/usr/bin/env bash
# run_alone.sh PROGRAM ARGS...: CTest runs each unit test through this, so
# that tests running at once never share the error log beside the program
# (see run_alone in scripts/common.sh).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
run_alone "$@"
