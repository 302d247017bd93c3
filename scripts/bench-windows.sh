#!/usr/bin/env bash
# The FTP benchmark of the Windows build under Wine: bench/ftp_bench.cc built
# as a Windows program (the figures beside the floor of one read plus one
# atomic rewrite, measured the same way), then PostFtpSit timed from a
# VBScript through CreateObject on a file of 997 accounts, and cscript of a
# one-call script as a whole process against cscript of an empty one.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ensure_packages
echo "building quorvel.dll and ftp_bench.exe..."
build_windows >/dev/null
cmake --build "$BUILD" --target ftp_bench -j2 >/dev/null
start_wine

echo
echo "== ftp_bench.exe (Windows build, under Wine)"
(cd "$BUILD" && wine ./ftp_bench.exe)

work=$BUILD/bench-vbs
rm -rf "$work"
mkdir -p "$work/bin" "$work/ftp"
cp "$BUILD/quorvel.dll" "$work/bin/"
dll=$(winpath "$work/bin/quorvel.dll")
wine regsvr32 /s "$dll"
python3 - "$work/ftp/accounts.ini" <<'PY'
import sys
n = 997
out = ["[GLOBAL]", "Version=6.4.0.6", "ProcessID=2140", "[DOMAINS]", "Domain1=0.0.0.0||21|Bench|1|0", "[Domain1]"]
out += ["User%d=user%d|1|0" % (k, k) for k in range(1, n + 1)]
for k in range(1, n + 1):
    u = "user%d" % k
    out += ["[USER=%s|1]" % u, "Password=vk5D44A032652974C3E53644945A95B126", "HomeDir=D:\\ftp\\" + u, "RelPaths=1",
            "Access1=D:\\ftp\\%s|RWAMLCDP" % u, "Access2=D:\\logs\\%s|RL" % u, "DiskQuota=1|512000|0", "MaxNrUsers=5",
            "SpeedLimitUp=65536", "SpeedLimitDown=131072", "SessionTimeOut=600", "TimeOut=600", "Enable=1",
            "Note1=customer " + u, "TimeOutSec=0", "QuotaCurrent=0"]
open(sys.argv[1], "wb").write(("\r\n".join(out) + "\r\n").encode())
PY
echo
echo "== VBScript, CreateObject(\"Quorvel.SiteManage\"), $(stat -c %s "$work/ftp/accounts.ini") bytes, 997 accounts"
cscript "$ROOT/bench/wine/ftp_timing.vbs" "$(winpath "$work/ftp")" "$(winpath "$work/report.txt")"
tr -d '\r' <"$work/report.txt"

# Whole processes, alternately, so that other work on the machine weighs on
# both alike; the median of each.
runs=${QUORVEL_BENCH_RUNS:-15}
echo
echo "== cscript of one call (ISUSER at 997 accounts) against cscript of an empty script, $runs runs each"
cp "$work/ftp/accounts.ini" "$work/ftp/ServUDaemon.ini"
ftp=$(winpath "$work/ftp")
: >"$work/empty.us"
: >"$work/call.us"
for ((run = 0; run < runs; run++)); do
    start=$(date +%s%N)
    cscript "$ROOT/bench/wine/empty.vbs" >/dev/null
    echo $((($(date +%s%N) - start) / 1000)) >>"$work/empty.us"
    start=$(date +%s%N)
    cscript "$ROOT/bench/wine/one_call.vbs" "$ftp" >/dev/null || echo "the call failed: the figures are not valid"
    echo $((($(date +%s%N) - start) / 1000)) >>"$work/call.us"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
empty_us=$(median "$work/empty.us")
call_us=$(median "$work/call.us")
awk -v e="$empty_us" -v c="$call_us" 'BEGIN {
    printf "empty script %8.1f ms\none call     %8.1f ms  %.2fx the empty script (+%.1f ms)\n", e / 1000, c / 1000, c / e, (c - e) / 1000 }'
wine regsvr32 /u /s "$dll"
