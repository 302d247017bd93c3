#!/usr/bin/env bash
# Builds quorvel.dll with MinGW-w64 into build-win/ and tests it under Wine:
# registration, the unit tests built for Windows, the VBScript tests of
# tests/wine/ (CreateObject and late binding, as the control panel calls it),
# a compiled early-binding client, and unregistration. Ends with one line
# "N passed, N failed"; exits non-zero on any failure.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then pass; else fail "$what"; fi
}
reg_has() { wine reg query "$1" >/dev/null 2>&1; }
reg_lacks() { ! reg_has "$1"; }
contains() { grep -qiF -- "$2" <<<"$1"; }
servers=()
finish() {
    for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

ensure_packages || { echo "cannot install the build packages"; fail "packages"; finish; }
echo "== build"
build_windows || { fail "the Windows build"; finish; }
start_wine || { fail "making the Wine prefix"; finish; }

TEST=$BUILD/wine-test
rm -rf "$TEST"
mkdir -p "$TEST/bin" "$TEST/scripts" "$TEST/work"
cp "$BUILD/quorvel.dll" "$BUILD/quorvel_standins.dll" "$TEST/bin/"
# Recorder of command lines, for the tests of methods that start programs.
cp "$BUILD/tests/record_command_line.exe" "$TEST/bin/"
DLL=$(winpath "$TEST/bin/quorvel.dll")
STANDINS=$(winpath "$TEST/bin/quorvel_standins.dll")
CLSID=$(idl_guid coclass)
IID=$(idl_guid interface)
LIBID=$(idl_guid library)
REG_KEYS=("HKCR\\Quorvel.SiteManage" "HKCR\\CLSID\\$CLSID" "HKCR\\TypeLib\\$LIBID" "HKCR\\Interface\\$IID")

echo "== the DLL"
imports=$(x86_64-w64-mingw32-objdump -p "$BUILD/quorvel.dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
check "quorvel.dll imports only system DLLs (got: $(echo $imports))" \
    test -z "$(grep -E '^(libstdc|libgcc|libwinpthread)' <<<"$imports")"
exports=$(x86_64-w64-mingw32-objdump -p "$BUILD/quorvel.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    grep -oE 'Dll[A-Za-z]+' | sort | tr '\n' ' ')
check "quorvel.dll exports exactly the four entry points (got: $exports)" \
    test "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "

echo "== register"
check "regsvr32 quorvel.dll" wine regsvr32 /s "$DLL"
for key in "${REG_KEYS[@]}"; do
    check "registered: $key" reg_has "$key"
done
server=$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /ve 2>/dev/null | tr -d '\r')
check "InprocServer32 names the DLL (got: $server)" contains "$server" "$DLL"
check "ThreadingModel Apartment" \
    contains "$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /v ThreadingModel 2>/dev/null)" Apartment

echo "== the stand-ins"
# The outside components the component reaches (directory providers, mail
# components), registered as a server with those products has them.
check "regsvr32 quorvel_standins.dll" wine regsvr32 /s "$STANDINS"
check "the probe's ProgID is registered" reg_has 'HKCR\QuorvelStandins.Probe\CLSID'

echo "== unit tests"
if [ -x "$BUILD/tests/quorvel_tests.exe" ]; then
    out=$(cd "$BUILD/tests" && timeout 600 env LC_ALL=zh_CN.UTF-8 "$WINE64" quorvel_tests.exe --gtest_brief=1 </dev/null 2>&1)
    rc=$?
    ok=$(sed -n 's/.*\[  PASSED  \] \([0-9]*\) test.*/\1/p' <<<"$out" | tail -1)
    bad=$(sed -n 's/.*\[  FAILED  \] \([0-9]*\) test.*/\1/p' <<<"$out" | tail -1)
    passed=$((passed + ${ok:-0}))
    failed=$((failed + ${bad:-0}))
    if [ $rc -ne 0 ] || [ -z "$ok" ]; then
        grep -E '^\[  FAILED  \]|Failure|error' <<<"$out" | head -40
        [ -z "$bad" ] && fail "quorvel_tests.exe ended with status $rc"
    fi
    echo "unit tests: ${ok:-0} passed, ${bad:-0} failed"
else
    fail "quorvel_tests.exe was not built"
fi

echo "== local servers"
# The pages that supervise_test.vbs fetches.
python3 "$ROOT/tests/servers/page_server.py" "$TEST/http-address" &
servers+=($!)
for _ in $(seq 100); do [ -s "$TEST/http-address" ] && break; sleep 0.1; done
export QUORVEL_TEST_HTTP=$(cat "$TEST/http-address" 2>/dev/null)
check "the page server started" test -n "$QUORVEL_TEST_HTTP"

echo "== VBScript tests"
for test in "$ROOT"/tests/wine/*_test.vbs; do
    name=$(basename "$test" .vbs)
    script=$TEST/scripts/$name.vbs
    mkdir -p "$TEST/work/$name"
    # cscript reads a script in the system code page.
    cat "$ROOT/tests/wine/assert.vbs" "$test" | iconv -f UTF-8 -t GBK >"$script"
    timeout 300 env LC_ALL=zh_CN.UTF-8 "$WINE64" cscript //nologo "$(winpath "$script")" \
        "$(winpath "$TEST/bin")" "$(winpath "$TEST/work/$name")" </dev/null >"$TEST/work/$name.log" 2>&1
    rc=$?
    # The tests report through a file (see assert.vbs).
    out=$(iconv -c -f GBK -t UTF-8 "$TEST/work/$name/output.txt" 2>/dev/null | tr -d '\r')
    grep -v '^RESULT ' <<<"$out" | grep -v '^$' | sed "s/^/  $name: /"
    result=$(sed -n 's/^RESULT \([0-9]*\) \([0-9]*\).*/\1 \2/p' <<<"$out" | tail -1)
    if [ -z "$result" ]; then
        # Wine's cscript reports no script errors: a script that stops early is one.
        fail "$name stopped before its end (a script error)"
    elif [ $rc -ne 0 ] && [ "${result#* }" = 0 ]; then
        fail "$name: cscript ended with status $rc after its checks passed"
        head -5 "$TEST/work/$name.log"
    else
        read -r ok bad <<<"$result"
        passed=$((passed + ok))
        failed=$((failed + bad))
        echo "$name: $ok passed, $bad failed"
    fi
done

echo "== early binding"
out=$(cd "$BUILD/tests" && timeout 120 env LC_ALL=zh_CN.UTF-8 "$WINE64" early_binding_client.exe </dev/null 2>&1)
rc=$?
passed=$((passed + $(grep -c '^ok ' <<<"$out")))
bads=$(grep '^FAIL' <<<"$out")
[ -n "$bads" ] && { failed=$((failed + $(grep -c . <<<"$bads"))); echo "$bads"; }
[ $rc -ne 0 ] && [ -z "$bads" ] && fail "early_binding_client.exe ended with status $rc"
echo "$(tail -1 <<<"$out")"

echo "== unregister"
check "regsvr32 /u quorvel.dll" wine regsvr32 /u /s "$DLL"
for key in "${REG_KEYS[@]}"; do
    check "no entry left: $key" reg_lacks "$key"
done


# ---- The Windows package: built by the command the README gives, unpacked into
# a fresh Wine prefix and installed by following its INSTALL.txt word for word.
echo "== the Windows package"
package=$("$ROOT/scripts/package-windows.sh" | tail -1)
if [ ! -f "$package" ]; then
    fail "scripts/package-windows.sh made no package"
else
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
    top=quorvel-$version-win64
    check "package named $top.zip (got: $(basename "$package"))" test "$(basename "$package")" = "$top.zip"
    listing=$(unzip -Z1 "$package" | grep -v '/$' | sort | tr '\n' ' ')
    check "package holds quorvel.dll, quorvel.tlb and INSTALL.txt (got: $listing)" \
        test "$listing" = "$top/INSTALL.txt $top/quorvel.dll $top/quorvel.tlb "
    PKG=$BUILD/package-test
    rm -rf "$PKG"
    mkdir -p "$PKG"
    unzip -q "$package" -d "$PKG/unpacked"
    guide=$PKG/unpacked/$top/INSTALL.txt
    check "INSTALL.txt is plain text with CR LF line ends" python3 -c '
import sys
b = open(sys.argv[1], "rb").read()
sys.exit(not (b.isascii() and b.endswith(b"\r\n") and b.count(b"\n") == b.count(b"\r\n") and b.count(b"\r") == b.count(b"\r\n")))' "$guide"
    check "quorvel.tlb is a type library" test "$(head -c 4 "$PKG/unpacked/$top/quorvel.tlb")" = MSFT
    check "quorvel.tlb is the library quorvel.dll carries" cmp -s "$PKG/unpacked/$top/quorvel.tlb" "$BUILD/generated/quorvel.tlb"
    steps() { python3 "$ROOT/tests/wine/install_steps.py" "$guide" "$@"; }

    # A new machine: its own prefix and wineserver, left as the steps leave it.
    (
        export WINEPREFIX=$PKG/prefix
        trap '"$WINESERVER" -k >/dev/null 2>&1 </dev/null' EXIT
        mkdir -p "$WINEPREFIX"
        wine wineboot -i >/dev/null 2>&1 || { fail "making a fresh Wine prefix"; exit 1; }
        drive_c=$WINEPREFIX/drive_c
        # 2 a): the component's folder.
        mkdir -p "$drive_c/Quorvel"
        cp "$PKG/unpacked/$top/quorvel.dll" "$PKG/unpacked/$top/quorvel.tlb" "$drive_c/Quorvel/"
        # Each typed block runs as the administrator's prompt would run it.
        typed() { # typed FILE: a block of INSTALL.txt, run by cmd
            wine cmd /c "C:\\${1//\//\\}" 2>&1 | tr -d '\r'
            return "${PIPESTATUS[0]}"
        }
        steps block Install 1 >"$drive_c/install.cmd" || exit 1
        out=$(typed install.cmd)
        check "INSTALL.txt's install step: regsvr32 succeeds (said: $out)" test $? -eq 0
        check "registered from C:\\Quorvel" contains \
            "$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /ve 2>/dev/null)" 'C:\Quorvel\quorvel.dll'

        vbs=$(steps save-as "A first call from VBScript") && expected=$(steps prints "A first call from VBScript") || exit 1
        vbs_file=$drive_c/${vbs#C:\\}
        steps block "A first call from VBScript" 1 >"${vbs_file//\\//}"
        steps block "A first call from VBScript" 2 >"$drive_c/first-call.cmd"
        out=$(typed first-call.cmd)
        check "INSTALL.txt's VBScript example prints \"$expected\" (printed: $out)" contains "$out" "$expected"
        check "the example's failure is logged in C:\\Quorvel\\DllErr.log" \
            grep -q PostFtpSit "$drive_c/Quorvel/DllErr.log"

        # The version resource, as Explorer and scripts read it.
        cat >"$drive_c/version.vbs" <<'VBS'
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile("C:\version.txt", True)
out.WriteLine fso.GetFileVersion("C:\Quorvel\quorvel.dll")
out.Close
VBS
        wine cscript //nologo 'C:\version.vbs' >/dev/null 2>&1
        got=$(tr -d '\r\n' <"$drive_c/version.txt" 2>/dev/null)
        want=$version
        while [ "$(tr -cd . <<<"$want" | wc -c)" -lt 3 ]; do want=$want.0; done
        check "GetFileVersion of quorvel.dll is $want (got: $got)" test "$got" = "$want"

        steps block Uninstall 1 >"$drive_c/uninstall.cmd" || exit 1
        out=$(typed uninstall.cmd)
        check "INSTALL.txt's uninstall step: regsvr32 /u succeeds (said: $out)" test $? -eq 0
        for key in "${REG_KEYS[@]}"; do
            check "uninstalled: $key" reg_lacks "$key"
        done
        echo "$passed $failed" >"$PKG/counts"
    )
    if [ -f "$PKG/counts" ]; then read -r passed failed <"$PKG/counts"; else fail "the package steps stopped early"; fi
fi
# ---- end of the Windows package

finish
