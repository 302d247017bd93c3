#!/usr/bin/env bash
# The FTP session of the demo on Windows: builds quorvel.dll, registers it in
# a private Wine prefix (ANSI code page 936) and runs
# demo/windows/ftp-session.vbs with cscript against a copy of the example
# ServUDaemon.ini, then unregisters the DLL.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ensure_packages
echo "building quorvel.dll..."
build_windows >/dev/null
start_wine

demo=$BUILD/demo
rm -rf "$demo"
mkdir -p "$demo/bin" "$demo/Serv-U"
cp "$BUILD/quorvel.dll" "$demo/bin/"
cp "$ROOT/demo/machine/drives/D/Serv-U/ServUDaemon.ini" "$demo/Serv-U/"
dll=$(winpath "$demo/bin/quorvel.dll")

echo
echo "\$ regsvr32 $dll"
wine regsvr32 /s "$dll" && echo "registered Quorvel.SiteManage"
# cscript reads a script in the system code page.
iconv -f UTF-8 -t GBK "$ROOT/demo/windows/ftp-session.vbs" >"$demo/ftp-session.vbs"
echo "\$ cscript ftp-session.vbs"
wine cscript //nologo "$(winpath "$demo/ftp-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/Serv-U")" \
    "$(winpath "$demo/session.txt")"
iconv -c -f GBK -t UTF-8 "$demo/session.txt" | tr -d '\r'

echo
echo "# Page supervision of a page served on 127.0.0.1"
rm -f "$demo/pages"
python3 "$ROOT/tests/servers/page_server.py" "$demo/pages" &
page_server=$!
for _ in $(seq 100); do [ -s "$demo/pages" ] && break; sleep 0.1; done
iconv -f UTF-8 -t GBK "$ROOT/demo/windows/supervise-session.vbs" >"$demo/supervise-session.vbs"
echo "\$ cscript supervise-session.vbs"
wine cscript //nologo "$(winpath "$demo/supervise-session.vbs")" "$(winpath "$demo/bin")" "$(cat "$demo/pages")" \
    "$(winpath "$demo/supervise.txt")"
kill $page_server 2>/dev/null
iconv -c -f GBK -t UTF-8 "$demo/supervise.txt" | tr -d '\r'
echo
echo "\$ regsvr32 /u $dll"
wine regsvr32 /u /s "$dll" && echo "unregistered"

echo
echo "== Folder permissions and the shutdown privilege"
mkdir -p "$demo/tool"
cp "$BUILD/tests/record_command_line.exe" "$demo/tool/CACLS.exe"
wine regsvr32 /s "$dll"
iconv -f UTF-8 -t GBK "$ROOT/demo/windows/permissions-session.vbs" >"$demo/permissions-session.vbs"
echo "\$ cscript permissions-session.vbs"
wine cscript //nologo "$(winpath "$demo/permissions-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/tool")" \
    "$(winpath "$demo/permissions.txt")"
iconv -c -f GBK -t UTF-8 "$demo/permissions.txt" | tr -d '\r'
wine regsvr32 /u /s "$dll"

echo
echo "== Windows accounts, with the WinNT directory stand-in registered"
cp "$BUILD/quorvel_standins.dll" "$demo/bin/"
standins=$(winpath "$demo/bin/quorvel_standins.dll")
wine regsvr32 /s "$dll"
wine regsvr32 /s "$standins"
iconv -f UTF-8 -t GBK "$ROOT/demo/windows/accounts-session.vbs" >"$demo/accounts-session.vbs"
echo "\$ cscript accounts-session.vbs"
wine cscript //nologo "$(winpath "$demo/accounts-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/accounts.txt")"
iconv -c -f GBK -t UTF-8 "$demo/accounts.txt" | tr -d '\r'
wine regsvr32 /u /s "$standins"
wine regsvr32 /u /s "$dll"
