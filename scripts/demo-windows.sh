#!/usr/bin/env bash
# The sessions of the demo on Windows: builds quorvel.dll, registers it in a
# private Wine prefix (ANSI code page 936) and runs demo/windows/*.vbs with
# cscript against copies of the example configuration files (the FTP
# session, then the backups), then unregisters the DLL.
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
# cscript reads a script in the system code page; every session gets the
# shared helpers in front.
session() { cat "$ROOT/demo/windows/lib/session.vbs" "$ROOT/demo/windows/$1" | iconv -f UTF-8 -t GBK >"$demo/$1"; }
session ftp-session.vbs
echo "\$ cscript ftp-session.vbs"
wine cscript //nologo "$(winpath "$demo/ftp-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/Serv-U")" \
    "$(winpath "$demo/session.txt")"
iconv -c -f GBK -t UTF-8 "$demo/session.txt" | tr -d '\r'

# The stand-in library: the IIS directory provider and the mail components,
# registered as on a server with those products.
cp "$BUILD/quorvel_standins.dll" "$demo/bin/"
standins=$(winpath "$demo/bin/quorvel_standins.dll")
echo
echo "\$ regsvr32 $standins"
wine regsvr32 /s "$standins" && echo "registered the stand-ins (IIS directory provider, mail components)"

# Backups of the FTP and mail configurations, on copies of the example files,
# and of the IIS metabase.
mkdir -p "$demo/MDaemon" "$demo/backup"
cp -r "$ROOT/demo/machine/drives/D/MDaemon/App" "$demo/MDaemon/"
session backup-session.vbs
echo
echo "\$ cscript backup-session.vbs"
wine cscript //nologo "$(winpath "$demo/backup-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/Serv-U")" \
    "$(winpath "$demo/MDaemon")" "$(winpath "$demo/backup")" "$(winpath "$demo/backup-session.txt")"
iconv -c -f GBK -t UTF-8 "$demo/backup-session.txt" | tr -d '\r'
echo
echo "==== Mail, with the webmail stand-in of the POSIX build on 127.0.0.1"
rm -rf "$demo/MDaemon" && cp -r "$ROOT/demo/machine/drives/D/MDaemon" "$demo/MDaemon"
start_webmail "$demo/MDaemon"
trap stop_webmail EXIT
echo "\$ quorvel webmail --mail-dir $demo/MDaemon --port 0 &"
echo "listening on 127.0.0.1:$WEBMAIL_PORT"
sed -i "s/^Port=.*/Port=$WEBMAIL_PORT\r/" "$demo/MDaemon/WorldClient/Domains.ini"
session mail-session.vbs
echo "\$ cscript mail-session.vbs"
wine cscript //nologo "$(winpath "$demo/mail-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/MDaemon")" \
    "$(winpath "$demo/mail-session.txt")"
iconv -c -f GBK -t UTF-8 "$demo/mail-session.txt" | tr -d '\r'
stop_webmail
trap - EXIT

echo "# Page supervision of a page served on 127.0.0.1"
rm -f "$demo/pages"
python3 "$ROOT/tests/servers/page_server.py" "$demo/pages" &
page_server=$!
for _ in $(seq 100); do [ -s "$demo/pages" ] && break; sleep 0.1; done
session supervise-session.vbs
echo "\$ cscript supervise-session.vbs"
wine cscript //nologo "$(winpath "$demo/supervise-session.vbs")" "$(winpath "$demo/bin")" "$(cat "$demo/pages")" \
    "$(winpath "$demo/supervise.txt")"
kill $page_server 2>/dev/null
iconv -c -f GBK -t UTF-8 "$demo/supervise.txt" | tr -d '\r'
# The web-site session: PostWebSit driven by VBScript.
session web-session.vbs
echo "\$ cscript web-session.vbs"
wine cscript //nologo "$(winpath "$demo/web-session.vbs")" "$(winpath "$demo/bin")" "$(winpath "$demo/web-session.txt")"
iconv -c -f GBK -t UTF-8 "$demo/web-session.txt" | tr -d '\r'

echo
echo "# Outgoing mail through the stand-in mail components into an SMTP sink on 127.0.0.1"
rm -rf "$demo/mail" "$demo/smtp"
python3 "$ROOT/tests/servers/smtp_sink.py" "$demo/mail" "$demo/smtp" &
smtp_sink=$!
for _ in $(seq 100); do [ -s "$demo/smtp" ] && break; sleep 0.1; done
iconv -f UTF-8 -t GBK "$ROOT/demo/windows/send-mail-session.vbs" >"$demo/send-mail-session.vbs"
echo "\$ cscript send-mail-session.vbs"
wine cscript //nologo "$(winpath "$demo/send-mail-session.vbs")" "$(cat "$demo/smtp")" "$(winpath "$demo/send-mail.txt")"
kill $smtp_sink 2>/dev/null
iconv -c -f GBK -t UTF-8 "$demo/send-mail.txt" | tr -d '\r'
echo "  the sink received:"
python3 "$ROOT/tests/servers/show_mail.py" "$demo/mail"/*.eml
wine regsvr32 /u /s "$standins"
echo
echo "\$ regsvr32 /u $dll"
wine regsvr32 /u /s "$dll" && echo "unregistered"

echo
echo "== Folder permissions and the shutdown privilege"
mkdir -p "$demo/tool"
cp "$BUILD/tests/record_command_line.exe" "$demo/tool/CACLS.exe"
wine regsvr32 /s "$dll"
session permissions-session.vbs
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
