#!/usr/bin/env bash
# The steps of the Windows build's tests under Wine that are not programs of
# the build; CTest runs each as a test (tests/windows.cmake), in the build
# folder $QUORVEL_WIN_BUILD. Prints what failed; exits non-zero on any failure.
#
#   wine_test.sh prefix | end                  the prefix and its server; end stops them
#   wine_test.sh imports | exports             what quorvel.dll links and exports
#   wine_test.sh register quorvel | standins   copy the DLL to the test folder, regsvr32 it
#   wine_test.sh unregister quorvel | standins regsvr32 /u, and nothing is left
#   wine_test.sh serve NAME | stop NAME        webmail, pages, smtp: the local servers
#   wine_test.sh vbs NAME                      tests/wine/NAME.vbs with cscript
#   wine_test.sh package                       the package, installed by its INSTALL.txt
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

TEST=$BUILD/wine-test
BIN=$TEST/bin
SERVERS=$TEST/servers

failed=0
fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    "$@" || fail "$what"
}
finish() { exit $((failed > 0)); }
reg_has() { wine reg query "$1" >/dev/null 2>&1; }
reg_lacks() { ! reg_has "$1"; }
contains() { grep -qiF -- "$2" <<<"$1"; }

PROBE='HKCR\QuorvelStandins.Probe\CLSID'
# The keys of quorvel.dll's registration: sets CLSID and REG_KEYS.
registry_keys() {
    CLSID=$(idl_guid coclass)
    REG_KEYS=("HKCR\\Quorvel.SiteManage" "HKCR\\CLSID\\$CLSID" "HKCR\\AppID\\$CLSID"
        "HKCR\\TypeLib\\$(idl_guid library)" "HKCR\\Interface\\$(idl_guid interface)")
}

# The local server NAME, when it runs.
stop() {
    local pid
    pid=$(cat "$SERVERS/$1.pid" 2>/dev/null) || return 0
    kill "$pid" 2>/dev/null
    rm -f "$SERVERS/$1.pid"
}

# The prefix (made again when it has another code page) and one server for
# the whole run; a fresh test folder, without servers a stopped run left.
prefix() {
    for pidfile in "$SERVERS"/*.pid; do
        [ -e "$pidfile" ] && stop "$(basename "$pidfile" .pid)"
    done
    rm -rf "$TEST"
    mkdir -p "$BIN" "$SERVERS" "$TEST/scripts" "$TEST/work"
    make_prefix --check || { fail "making the Wine prefix $PREFIX"; return; }
    # Wine's COM starts the system surrogate (an empty DllSurrogate) from
    # syswow64 for every 64-bit caller (combase's create_surrogate_server
    # picks that folder even when the class is in the 64-bit registry view),
    # where Windows starts the 64-bit dllhost.exe of system32; without
    # 32-bit Wine there is none there at all. The 64-bit one is put there,
    # so that the surrogate test meets the surrogate Windows would start.
    local windows=$PREFIX/drive_c/windows
    mkdir -p "$windows/syswow64"
    cp -f "$windows/system32/dllhost.exe" "$windows/syswow64/dllhost.exe" || fail "placing the 64-bit dllhost.exe"
    serve_wine
}

end() { stop_wine; }

imports() {
    local imports
    imports=$(x86_64-w64-mingw32-objdump -p "$BUILD/quorvel.dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    check "quorvel.dll imports only system DLLs (got: $(echo $imports))" \
        test -z "$(grep -E '^(libstdc|libgcc|libwinpthread)' <<<"$imports")"
}

exports() {
    local exports
    exports=$(x86_64-w64-mingw32-objdump -p "$BUILD/quorvel.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        grep -oE 'Dll[A-Za-z]+' | sort | tr '\n' ' ')
    check "quorvel.dll exports exactly the four entry points (got: $exports)" \
        test "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
}

register() {
    case $1 in
    quorvel)
        registry_keys
        # With the recorder of command lines, for the tests of methods that start programs.
        cp "$BUILD/quorvel.dll" "$BUILD/tests/record_command_line.exe" "$BIN/" || { fail "copying quorvel.dll"; return; }
        local dll
        dll=$(winpath "$BIN/quorvel.dll")
        check "regsvr32 quorvel.dll" wine regsvr32 /s "$dll"
        for key in "${REG_KEYS[@]}"; do
            check "registered: $key" reg_has "$key"
        done
        local server
        server=$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /ve 2>/dev/null | tr -d '\r')
        check "InprocServer32 names the DLL (got: $server)" contains "$server" "$dll"
        check "ThreadingModel Apartment" \
            contains "$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /v ThreadingModel 2>/dev/null)" Apartment
        # Out of process: the class's AppID names the system surrogate (an
        # empty DllSurrogate), and the interface crosses processes through
        # the type library's marshaler.
        check "the class names its AppID" \
            contains "$(wine reg query "HKCR\\CLSID\\$CLSID" /v AppID 2>/dev/null)" "$CLSID"
        check "the AppID's DllSurrogate is empty" \
            grep -qE '^\s*DllSurrogate\s+REG_SZ\s*$' <<<"$(wine reg query "HKCR\\AppID\\$CLSID" /v DllSurrogate 2>/dev/null |
                tr -d '\r')"
        local interface
        interface=HKCR\\Interface\\$(idl_guid interface)
        check "ProxyStubClsid32 is the type library marshaler" contains \
            "$(wine reg query "$interface\\ProxyStubClsid32" /ve 2>/dev/null)" '{00020424-0000-0000-C000-000000000046}'
        check "the interface names its type library" \
            contains "$(wine reg query "$interface\\TypeLib" /ve 2>/dev/null)" "$(idl_guid library)"
        ;;
    standins)
        # The outside components the component reaches (directory providers,
        # mail components), registered as a server with those products has them.
        cp "$BUILD/quorvel_standins.dll" "$BIN/" || { fail "copying quorvel_standins.dll"; return; }
        check "regsvr32 quorvel_standins.dll" wine regsvr32 /s "$(winpath "$BIN/quorvel_standins.dll")"
        check "the probe's ProgID is registered" reg_has "$PROBE"
        ;;
    esac
}

unregister() {
    case $1 in
    quorvel)
        registry_keys
        check "regsvr32 /u quorvel.dll" wine regsvr32 /u /s "$(winpath "$BIN/quorvel.dll")"
        for key in "${REG_KEYS[@]}"; do
            check "no entry left: $key" reg_lacks "$key"
        done
        ;;
    standins)
        check "regsvr32 /u quorvel_standins.dll" wine regsvr32 /u /s "$(winpath "$BIN/quorvel_standins.dll")"
        check "no entry left: $PROBE" reg_lacks "$PROBE"
        ;;
    esac
}

# A server of its own session, writing to its log only, so that it outlives
# this step and holds none of CTest's pipes; its address goes to NAME.address.
serve() {
    local name=$1 address=$SERVERS/$1.address
    stop "$name"
    rm -f "$address"
    case $name in
    webmail)
        # The mail test's mail server folder; the test reads the port from a file.
        local host mail=$TEST/work/mail_test
        host=$(posix_host) || { fail "building the POSIX host for the webmail stand-in"; return; }
        mkdir -p "$mail/mail"
        setsid "$host" webmail --mail-dir "$mail/mail" --port 0 >"$SERVERS/$name.log" 2>&1 </dev/null &
        echo $! >"$SERVERS/$name.pid"
        if wait_for 10 grep -q '^listening on' "$SERVERS/$name.log"; then
            webmail_port "$SERVERS/$name.log" >"$mail/webmail-port.txt"
            echo "127.0.0.1:$(cat "$mail/webmail-port.txt")" >"$address"
        fi
        ;;
    pages)
        # The pages that supervise_test.vbs fetches.
        setsid python3 "$ROOT/tests/servers/page_server.py" "$address" >"$SERVERS/$name.log" 2>&1 </dev/null &
        echo $! >"$SERVERS/$name.pid"
        ;;
    smtp)
        # The SMTP server that send_mail_test.vbs sends to; it keeps each message in mail/.
        setsid python3 "$ROOT/tests/servers/smtp_sink.py" "$TEST/mail" "$address" >"$SERVERS/$name.log" 2>&1 </dev/null &
        echo $! >"$SERVERS/$name.pid"
        ;;
    *)
        fail "no server named $name"
        return
        ;;
    esac
    wait_for_file "$address" || fail "the $name server did not start: $(head -3 "$SERVERS/$name.log")"
}

# One VBScript test: assert.vbs in front, in the system code page; run with the
# folder of the registered DLL and a work folder of its own. The test reports
# through output.txt there (see assert.vbs), ending with "RESULT passed failed".
vbs() {
    local name=$1
    local script=$TEST/scripts/$name.vbs work=$TEST/work/$name
    mkdir -p "$TEST/scripts" "$work"
    rm -f "$work/output.txt"
    to_ansi "$script" "$ROOT/tests/wine/assert.vbs" "$ROOT/tests/wine/$name.vbs" || { fail "converting $name.vbs"; return; }
    # The local servers' addresses, for the tests that use them.
    export QUORVEL_TEST_HTTP QUORVEL_TEST_SMTP QUORVEL_TEST_MAIL
    QUORVEL_TEST_HTTP=$(cat "$SERVERS/pages.address" 2>/dev/null)
    QUORVEL_TEST_SMTP=$(cat "$SERVERS/smtp.address" 2>/dev/null)
    QUORVEL_TEST_MAIL=$(winpath "$TEST/mail")
    # Under load Wine now and then fails to start cscript at all (its
    # launcher's "cannot run the program"): the script never ran, so it is
    # started again, at most twice.
    local rc attempt
    for attempt in 1 2 3; do
        cscript "$script" "$(winpath "$BIN")" "$(winpath "$work")" >"$work.log" 2>&1
        rc=$?
        [ -e "$work/output.txt" ] && break
        [ "$(wc -c <"$work.log")" -gt 200 ] && break
        sleep 1
    done
    local out result
    out=$(from_ansi "$work/output.txt" 2>/dev/null)
    grep -v '^RESULT ' <<<"$out" | grep -v '^$'
    result=$(sed -n 's/^RESULT \([0-9]*\) \([0-9]*\).*/\1 \2/p' <<<"$out" | tail -1)
    if [ -z "$result" ]; then
        # Wine's cscript reports no script errors: a script that stops early is one.
        fail "$name stopped before its end (a script error); cscript said: $(head -5 "$work.log")"
        return
    fi
    local ok bad
    read -r ok bad <<<"$result"
    echo "$name: $ok passed, $bad failed"
    [ "$bad" -eq 0 ] || failed=$((failed + bad))
    if [ $rc -ne 0 ] && [ "$bad" -eq 0 ]; then
        fail "$name: cscript ended with status $rc after its checks passed; it said: $(head -5 "$work.log")"
    fi
}

# The Windows package: made by cpack as scripts/package-windows.sh makes it,
# unpacked into a fresh Wine prefix of its own and installed by following its
# INSTALL.txt word for word.
package() {
    registry_keys
    (cd "$BUILD" && cpack -G ZIP --config CPackConfig.cmake >/dev/null) || { fail "cpack made no package"; return; }
    local version top package
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
    top=quorvel-$version-win64
    package=$BUILD/$top.zip
    [ -f "$package" ] || { fail "cpack made no $top.zip"; return; }
    local listing
    listing=$(unzip -Z1 "$package" | grep -v '/$' | sort | tr '\n' ' ')
    check "package holds quorvel.dll, quorvel.tlb, INSTALL.txt, methods.txt and CHANGELOG.txt (got: $listing)" \
        test "$listing" = "$top/CHANGELOG.txt $top/INSTALL.txt $top/methods.txt $top/quorvel.dll $top/quorvel.tlb "
    local pkg=$BUILD/package-test
    rm -rf "$pkg"
    mkdir -p "$pkg"
    unzip -q "$package" -d "$pkg/unpacked"
    local guide=$pkg/unpacked/$top/INSTALL.txt
    check "INSTALL.txt is plain text with CR LF line ends" python3 -c '
import sys
b = open(sys.argv[1], "rb").read()
sys.exit(not (b.isascii() and b.endswith(b"\r\n") and b.count(b"\n") == b.count(b"\r\n") and b.count(b"\r") == b.count(b"\r\n")))' "$guide"
    check "CHANGELOG.txt is plain text with CR LF line ends, from 1.0.0" python3 -c '
import sys
b = open(sys.argv[1], "rb").read()
sys.exit(not (b.isascii() and b.count(b"\n") == b.count(b"\r\n") and b"\r\n## 1.0.0\r\n" in b))' "$pkg/unpacked/$top/CHANGELOG.txt"
    # The reference for Notepad: UTF-8 with a byte-order mark, CR LF, every method.
    check "methods.txt is the whole reference for Notepad" python3 -c '
import sys
b = open(sys.argv[1], "rb").read()
t = b.decode("utf-8-sig")
sys.exit(not (b.startswith(b"\xef\xbb\xbf") and b.count(b"\n") == b.count(b"\r\n") and
              all("\r\n" + m + "\r\n" in t for m in sys.argv[2:]) and "WARNING: ExitWindows(" in t))' \
        "$pkg/unpacked/$top/methods.txt" PostWebSit PostFtpSit PostEmailDomain PostEmail GetMailPass PostNTUser \
        PostCACLS BackupSit ExitWindows Supervise SendMail
    check "INSTALL.txt points to methods.txt and CHANGELOG.txt" \
        bash -c 'grep -q "methods\.txt" "$1" && grep -q "CHANGELOG\.txt" "$1"' _ "$guide"
    check "the packaged quorvel.dll has no debug sections" \
        bash -c '! x86_64-w64-mingw32-objdump -h "$1" | grep -q "\.debug"' _ "$pkg/unpacked/$top/quorvel.dll"
    check "quorvel.tlb is a type library" test "$(head -c 4 "$pkg/unpacked/$top/quorvel.tlb")" = MSFT
    check "quorvel.tlb is the library quorvel.dll carries" cmp -s "$pkg/unpacked/$top/quorvel.tlb" "$BUILD/generated/quorvel.tlb"
    steps() { python3 "$ROOT/tests/wine/install_steps.py" "$guide" "$@"; }

    # A new machine: its own prefix and wineserver, left as the steps leave it.
    export WINEPREFIX=$pkg/prefix
    trap stop_wine EXIT
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 || { fail "making a fresh Wine prefix"; return; }
    local drive_c=$WINEPREFIX/drive_c out
    # 2 a): the component's folder.
    mkdir -p "$drive_c/Quorvel"
    cp "$pkg/unpacked/$top/quorvel.dll" "$pkg/unpacked/$top/quorvel.tlb" "$drive_c/Quorvel/"
    # Each typed block runs as the administrator's prompt would run it.
    typed() { # typed FILE: a block of INSTALL.txt, run by cmd
        wine cmd /c "C:\\${1//\//\\}" 2>&1 | tr -d '\r'
        return "${PIPESTATUS[0]}"
    }
    steps block Install 1 >"$drive_c/install.cmd" || { fail "INSTALL.txt has no install step"; return; }
    out=$(typed install.cmd)
    check "INSTALL.txt's install step: regsvr32 succeeds (said: $out)" test $? -eq 0
    check "registered from C:\\Quorvel" contains \
        "$(wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /ve 2>/dev/null)" 'C:\Quorvel\quorvel.dll'

    local vbs expected
    vbs=$(steps save-as "A first call from VBScript") && expected=$(steps prints "A first call from VBScript") ||
        { fail "INSTALL.txt has no VBScript example"; return; }
    local vbs_file=$drive_c/${vbs#C:\\}
    steps block "A first call from VBScript" 1 >"${vbs_file//\\//}"
    steps block "A first call from VBScript" 2 >"$drive_c/first-call.cmd"
    out=$(typed first-call.cmd)
    check "INSTALL.txt's VBScript example prints \"$expected\" (printed: $out)" contains "$out" "$expected"
    check "the example's failure is logged in C:\\Quorvel\\DllErr.log" grep -q PostFtpSit "$drive_c/Quorvel/DllErr.log"

    # The version resource, as Explorer and scripts read it.
    cat >"$drive_c/version.vbs" <<'VBS'
Set fso = CreateObject("Scripting.FileSystemObject")
Set out = fso.CreateTextFile("C:\version.txt", True)
out.WriteLine fso.GetFileVersion("C:\Quorvel\quorvel.dll")
out.Close
VBS
    wine cscript //nologo 'C:\version.vbs' >/dev/null 2>&1
    local got want=$version
    got=$(tr -d '\r\n' <"$drive_c/version.txt" 2>/dev/null)
    while [ "$(tr -cd . <<<"$want" | wc -c)" -lt 3 ]; do want=$want.0; done
    check "GetFileVersion of quorvel.dll is $want (got: $got)" test "$got" = "$want"

    steps block Uninstall 1 >"$drive_c/uninstall.cmd" || { fail "INSTALL.txt has no uninstall step"; return; }
    out=$(typed uninstall.cmd)
    check "INSTALL.txt's uninstall step: regsvr32 /u succeeds (said: $out)" test $? -eq 0
    for key in "${REG_KEYS[@]}"; do
        check "uninstalled: $key" reg_lacks "$key"
    done

    # 8 e): the keys a control panel's server imports to reach this one.
    # Saved in C:\, and imported from there.
    steps block "Out of process" 4 >"$drive_c/quorvel-remote.reg" &&
        { printf 'cd /d C:\\\r\n' && steps block "Out of process" 5; } >"$drive_c/remote.cmd" ||
        { fail "INSTALL.txt has no keys for the control panel's server"; return; }
    check "the keys are a .reg file" \
        test "$(head -1 "$drive_c/quorvel-remote.reg" | tr -d '\r')" = "Windows Registry Editor Version 5.00"
    out=$(typed remote.cmd)
    check "INSTALL.txt's reg import succeeds (said: $out)" test $? -eq 0
    check "the ProgID names the class" contains \
        "$(wine reg query 'HKCR\Quorvel.SiteManage\CLSID' /ve 2>/dev/null)" "$CLSID"
    check "the class names its AppID" contains "$(wine reg query "HKCR\\CLSID\\$CLSID" /v AppID 2>/dev/null)" "$CLSID"
    check "the AppID names the server" contains \
        "$(wine reg query "HKCR\\AppID\\$CLSID" /v RemoteServerName 2>/dev/null)" WEBHOST01
}

case ${1:-} in
prefix | end | imports | exports | package | register | unregister | serve | stop | vbs) ;;
*)
    echo "usage: wine_test.sh prefix|end|imports|exports|register|unregister|serve|stop|vbs|package [NAME]" >&2
    exit 2
    ;;
esac
# Wine's console keeps the output of a step's last program open for a second
# after it ended, and CTest waits for it: the step writes to a file, shown at
# its end.
output=$(mktemp)
"$@" >"$output" 2>&1
cat "$output"
rm -f "$output"
finish
