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
# session NAME ARGS...: runs demo/windows/NAME with cscript, the shared
# helpers of $SESSION_LIB in front, and prints the transcript it writes to the
# file of its last argument (added here).
SESSION_LIB=$ROOT/demo/windows/lib/session.vbs
session() {
    local name=$1
    shift
    local transcript=$demo/${name%.vbs}.txt
    to_ansi "$demo/$name" ${SESSION_LIB:+"$SESSION_LIB"} "$ROOT/demo/windows/$name"
    echo "\$ cscript $name"
    cscript "$demo/$name" "$@" "$(winpath "$transcript")"
    from_ansi "$transcript"
}
session ftp-session.vbs "$(winpath "$demo/bin")" "$(winpath "$demo/Serv-U")"

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
echo
session backup-session.vbs "$(winpath "$demo/bin")" "$(winpath "$demo/Serv-U")" "$(winpath "$demo/MDaemon")" \
    "$(winpath "$demo/backup")"
echo
echo "==== Mail, with the webmail stand-in of the POSIX build on 127.0.0.1"
rm -rf "$demo/MDaemon" && cp -r "$ROOT/demo/machine/drives/D/MDaemon" "$demo/MDaemon"
start_webmail "$demo/MDaemon"
trap stop_webmail EXIT
echo "\$ quorvel webmail --mail-dir $demo/MDaemon --port 0 &"
echo "listening on 127.0.0.1:$WEBMAIL_PORT"
sed -i "s/^Port=.*/Port=$WEBMAIL_PORT\r/" "$demo/MDaemon/WorldClient/Domains.ini"
session mail-session.vbs "$(winpath "$demo/bin")" "$(winpath "$demo/MDaemon")"
stop_webmail
trap - EXIT

echo "# Page supervision of a page served on 127.0.0.1"
rm -f "$demo/pages"
python3 "$ROOT/tests/servers/page_server.py" "$demo/pages" &
page_server=$!
wait_for_file "$demo/pages"
session supervise-session.vbs "$(winpath "$demo/bin")" "$(cat "$demo/pages")"
kill $page_server 2>/dev/null
# The web-site session: PostWebSit driven by VBScript.
session web-session.vbs "$(winpath "$demo/bin")"

echo
echo "# Outgoing mail through the stand-in mail components into an SMTP sink on 127.0.0.1"
rm -rf "$demo/mail" "$demo/smtp"
python3 "$ROOT/tests/servers/smtp_sink.py" "$demo/mail" "$demo/smtp" &
smtp_sink=$!
wait_for_file "$demo/smtp"
SESSION_LIB= session send-mail-session.vbs "$(cat "$demo/smtp")"
kill $smtp_sink 2>/dev/null
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
session permissions-session.vbs "$(winpath "$demo/bin")" "$(winpath "$demo/tool")"
wine regsvr32 /u /s "$dll"

echo
echo "== Windows accounts, with the WinNT directory stand-in registered"
cp "$BUILD/quorvel_standins.dll" "$demo/bin/"
standins=$(winpath "$demo/bin/quorvel_standins.dll")
wine regsvr32 /s "$dll"
wine regsvr32 /s "$standins"
SESSION_LIB= session accounts-session.vbs "$(winpath "$demo/bin")"
wine regsvr32 /u /s "$standins"
wine regsvr32 /u /s "$dll"
