#!/usr/bin/env bash
# The demo: builds the component and its host, registers it on a copy of the
# example machine in demo/machine, and runs a scripted session through
# `quorvel call`, then the same session under Wine against quorvel.dll.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
source scripts/common.sh

./scripts/install-deps.sh all >/dev/null

echo "building the POSIX component and host..."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target quorvel_com quorvel_host >/dev/null

machine=$root/build/demo-machine
rm -rf "$machine"
export QUORVEL_MACHINE=$machine
# The component's logs (DllErr.log, DllAudit.log) in the machine folder.
export QUORVEL_LOG_FOLDER=$machine
# A failing call explains itself on stderr (the lines it added to DllErr.log).
q() { echo; echo "\$ quorvel $*"; "$root/build/quorvel" "$@" 2>&1; }
ini=$machine/drives/D/Serv-U/ServUDaemon.ini
# Prints the named sections of the FTP configuration file.
sections() {
  for s in "$@"; do
    awk -v want="[$s]" 'BEGIN{IGNORECASE=1} { sub(/\r$/, "") } /^\[/ { on = ($0 == want) } on { print "    " $0 }' "$ini"
  done
}

echo
echo "==== The component and its interface"
q init --example "$machine"
q help

echo
echo "==== A call that fails is logged: no FTP configuration in D:\\nowhere"
q call PostFtpSit ADD alice 'D:\nowhere' secret

echo
echo "==== An FTP account's life in D:\\Serv-U\\ServUDaemon.ini"
q call PostFtpSit ADD alice 'D:\Serv-U' secret 'D:\ftp\alice' 'D:\ftp\alice|RWAMLCDP' 10 500 10 64 128
sections Domain1 'USER=alice|1' GLOBAL
q call PostFtpSit STOP alice 'D:\Serv-U'
sections Domain1 'USER=alice|1'
q call PostFtpSit START alice 'D:\Serv-U'
sections Domain1 'USER=alice|1'
q call PostFtpSit MPASS alice 'D:\Serv-U' --FtpPass=n3w-pass
sections 'USER=alice|1'
q call PostFtpSit ISUSER alice 'D:\Serv-U'
q call PostFtpSit ADD shop 'D:\Serv-U' other
q call PostFtpSit DEL webmaster 'D:\Serv-U'
sections Domain1
q call PostFtpSit ISUSER alice 'D:\Serv-U'

echo
echo "==== Backups of the FTP and mail configurations in D:\\backup"
backups=$machine/drives/D/backup
app=$machine/drives/D/MDaemon/App
held() { local files; files=$(ls "$backups" | tr '\n' ' '); echo "  D:\\backup holds: ${files:-nothing}"; }
q call BackupSit BACKUP 1 before 'D:\Serv-U' 'D:\backup'
mkdir -p "$backups"
q call BackupSit BACKUP 1 before 'D:\Serv-U' 'D:\backup'
q call BackupSit backup 2 before 'D:\MDaemon' 'D:\backup'
held
echo "  -- the live configuration changes: an FTP account, a mail domain's address --"
q call PostFtpSit ADD bob 'D:\Serv-U' pw 'D:\ftp\bob' 'D:\ftp\bob|RL'
sections Domain1
sed -i 's/^IP=.*/IP=10.0.0.99\r/' "$app/Domains.dat"
echo "    Domains.dat: $(grep -a '^IP=' "$app/Domains.dat" | tr -d '\r')"
q call BackupSit RESTORE 1 before 'D:\Serv-U' 'D:\backup'
sections Domain1
q call BackupSit Restore 2 before 'D:\MDaemon' 'D:\backup'
echo "    Domains.dat: $(grep -a '^IP=' "$app/Domains.dat" | tr -d '\r')"
cmp -s "$app/Domains.dat" "$root/demo/machine/drives/D/MDaemon/App/Domains.dat" && echo "    (byte for byte the file before the change)"
echo "  -- a name that would leave D:\\backup is refused; a missing backup fails --"
q call BackupSit BACKUP 1 '..\Serv-U\ServUDaemon' 'D:\Serv-U' 'D:\backup'
q call BackupSit RESTORE 1 never 'D:\Serv-U' 'D:\backup'
q call BackupSit DEL 1 before 'D:\Serv-U' 'D:\backup'
q call BackupSit DEL 2 before 'D:\MDaemon' 'D:\backup'
held

echo
echo "==== Mail: a domain and a mailbox in D:\\MDaemon, the password's stored form from the webmail server"
mail=$machine/drives/D/MDaemon
# The webmail stand-in on a free port; the webmail settings name it.
"$root/build/quorvel" webmail --mail-dir 'D:\MDaemon' --port 0 >"$root/build/demo-webmail.out" &
webmail=$!
trap 'kill $webmail 2>/dev/null || true' EXIT
wait_for 10 grep -q '^listening on' "$root/build/demo-webmail.out"
echo "\$ quorvel webmail --mail-dir 'D:\\MDaemon' --port 0 &"
cat "$root/build/demo-webmail.out"
echo "  (it wrote its port into D:\\MDaemon\\WorldClient\\Domains.ini: $(grep -a '^Port=' "$mail/WorldClient/Domains.ini" | tr -d '\r'))"
records() { echo "  USERLIST.DAT:"; iconv -f GBK -t UTF-8 "$mail/App/USERLIST.DAT" | tr -d '\r' | sed 's/^/    |/; s/$/|/'; }
q call PostEmailDomain ADD 'D:\MDaemon' example.com 192.168.1.10 True 30 60 7 True
echo "  Domains.dat:"; tr -d '\r' <"$mail/App/Domains.dat" | sed 's/^/    /'
q call PostEmailDomain ISSEARCH 'D:\MDaemon' example.com
q call GetMailPass 127.0.0.1 'D:\MDaemon' secret
q call PostEmail ADD 'D:\MDaemon' example.com info 127.0.0.1 张三 secret 50 10240
records
q call PostEmail EDIT 'D:\MDaemon' example.com info 127.0.0.1 'Li Si' 'n3w&pass' 100 20480
records
q call PostEmail ADD 'D:\MDaemon' example.com info 127.0.0.1
q call PostEmail DEL 'D:\MDaemon' example.com info 127.0.0.1
records
q call PostEmailDomain DEL 'D:\MDaemon' example.com
kill $webmail 2>/dev/null || true
wait $webmail 2>/dev/null || true
trap - EXIT
echo "(the webmail server is stopped now)"
q call PostEmail ADD 'D:\MDaemon' example.com sales 127.0.0.1

echo
echo "==== Folder permissions: PostCACLS starts the ACL tool through the command interpreter"
site=$machine/drives/D/web/site1
mkdir -p "$site/images"
echo hello >"$site/index.html"
# The call returns once the command started; the ACL tool finishes soon after.
acl_of() { getfacl -p "$1" 2>/dev/null | sed '/^$/d; s/^/    /'; }
has_acl() { getfacl -p "$1" 2>/dev/null | grep -q "$2"; }
lacks_acl() { ! has_acl "$@"; }
wait_acl() { wait_for 5 has_acl "$@" || true; }
wait_no_acl() { wait_for 5 lacks_acl "$@" || true; }
q call PostCACLS ADD 'D:\web\site1' nobody R
wait_acl "$site/images" 'user:nobody'
echo "  getfacl of D:\web\site1\images:"
acl_of "$site/images"
q call PostCACLS DEL 'D:\web\site1' nobody ''
wait_no_acl "$site/images" 'user:nobody'
echo "  getfacl of D:\web\site1\images after DEL:"
acl_of "$site/images"
echo "  A folder that would start a second command is refused, and nothing runs:"
q call PostCACLS ADD 'D:\web\site1 & touch /tmp/quorvel-demo-hacked' nobody F
echo "  the ACL tool by hand:"
echo "\$ cacls --help"
"$root/build/cacls" --help | sed 's/^/    /'

echo
echo "==== Shutdown and reboot: the machine's [Shutdown] commands (here harmless ones)"
printf '[Shutdown]\r\nReboot=touch "%s"\r\n' "$machine/reboot-requested" >>"$machine/machine.ini"
sed -n '/^\[Shutdown\]/,$p' "$machine/machine.ini" | tr -d '\r' | sed 's/^/    /'
q call ExitWindows reboot
wait_for 5 test -e "$machine/reboot-requested" || true
ls "$machine/reboot-requested" >/dev/null && echo "  the Reboot command ran: $machine/reboot-requested exists"
echo "  No PowerOff command is configured: the request is refused, and said so:"
q call ExitWindows SHUTDOWN

echo
echo "==== Windows accounts: PostNTUser on the WinNT directory stand-in, read back with quorvel adsi"
account() {
  for p in FullName UserFlags AccountDisabled; do
    printf '    %-16s %s\n' "$p" "$("$root/build/quorvel" adsi get 'WinNT://WEBHOST01/web_zhang,user' $p)"
  done
  printf '    %-16s %s\n' "in Guests" "$("$root/build/quorvel" adsi call 'WinNT://WEBHOST01/Guests,group' IsMember 'WinNT://WEBHOST01/web_zhang')"
}
q call PostNTUser ADDUSER '张三' web_zhang 'Secret-1' Users
account
q call PostNTUser ADDUSERTOGROUP '' web_zhang '' Guests
account
q call PostNTUser STOPUSER '' web_zhang '' ''
account
q call PostNTUser STARTUSER '' web_zhang '' ''
account
q call PostNTUser ADDUSER 'again' web_zhang 'Secret-2' Users
q call PostNTUser DELUSER '' web_zhang '' ''
q adsi enum 'WinNT://WEBHOST01'

echo
echo "==== Page supervision: a page served on 127.0.0.1"
pages=$root/build/demo-pages
rm -f "$pages"
python3 tests/servers/page_server.py "$pages" &
page_server=$!
trap 'kill $page_server 2>/dev/null' EXIT
wait_for_file "$pages"
server=$(cat "$pages")
echo "  (the page http://$server/found holds \"Service is RUNNING\")"
q call Supervise "http://$server/found" running
q call Supervise "$server/found" stopped
q call Supervise "http://127.0.0.1:1/" running
kill $page_server 2>/dev/null
trap - EXIT

echo
echo "==== A web site's life in the IIS directory (IIS://localhost/W3SVC)"
q call PostWebSit ADD shop.example 'D:\web\shop' index.htm '.asp,C:\WINNT\system32\inetsrv\asp.dll,1,GET,POST' \
  ':80:shop.example|:80:www.shop.example' RW 'D:\logs\shop' 100 900 1024 50 IUSR_SHOP secret
q adsi enum IIS://localhost/W3SVC
for property in ServerComment ServerBindings MaxBandwidth CpuLimitLogEvent CpuLimitsEnabled ServerState; do
  q adsi get IIS://localhost/W3SVC/1 "$property"
done
for property in Path AccessRead AccessWrite AppRoot AppIsolated AppFriendlyName; do
  q adsi get IIS://localhost/W3SVC/1/ROOT "$property"
done
q call PostWebSit STOP shop.example
q adsi get IIS://localhost/W3SVC/1 ServerState
q call PostWebSit START shop.example
q adsi get IIS://localhost/W3SVC/1 ServerState
q call PostWebSit EDIT shop.example 'D:\web\shop2' default.htm '' ':80:shop.example' R 'D:\logs\shop' 50 600 2048 20 IUSR_SHOP secret
q adsi get IIS://localhost/W3SVC/1 MaxConnections
q adsi get IIS://localhost/W3SVC/1/ROOT Path
q call PostWebSit ADD SHOP.EXAMPLE
echo "  -- the whole metabase backed up by IIS, a setting changed, the backup restored --"
q call BackupSit BACKUP 0 before-tuning '' ''
q adsi call IIS://localhost EnumBackups
q adsi set IIS://localhost/W3SVC/1 MaxConnections --long 999
q adsi get IIS://localhost/W3SVC/1 MaxConnections
q call BackupSit RESTORE 0 before-tuning '' ''
q adsi get IIS://localhost/W3SVC/1 MaxConnections
q call BackupSit DEL 0 before-tuning '' ''
q adsi call IIS://localhost EnumBackups
q call BackupSit RESTORE 0 before-tuning '' ''
q call PostWebSit DEL shop.example
q adsi enum IIS://localhost/W3SVC
q call PostWebSit ISSEARCH shop.example
echo "==== Outgoing mail: JMAIL.SmtpMail and CDONTS.NewMail into an SMTP sink on 127.0.0.1"
sink=$root/build/demo-mail
rm -rf "$sink" "$sink.address"
python3 tests/servers/smtp_sink.py "$sink" "$sink.address" &
smtp_sink=$!
trap 'kill $smtp_sink 2>/dev/null' EXIT
wait_for_file "$sink.address"
smtp=$(cat "$sink.address")
q call SendMail 0 panel@webhost01.example alice@example.com '站点已开通' '<p>您好，您的站点 <b>alice</b> 已开通。</p>' '' '' "$smtp"
printf '[Mail]\r\nSmtpServer=%s\r\n' "$smtp" >>"$machine/machine.ini"
q call SendMail 2 panel@webhost01.example bob@example.com 'Quota' 'Your mailbox is almost full.' '' '' ''
echo "  the sink received:"
python3 tests/servers/show_mail.py "$sink"/*.eml
q call SendMail 0 panel@webhost01.example reject-me@example.com 'Hello' 'refused by the server' '' '' "$smtp"
q call SendMail 0 panel@webhost01.example $'alice@example.com\r\nBcc: victim@example.com' 'Hello' 'injected' '' '' "$smtp"
kill $smtp_sink 2>/dev/null
trap - EXIT

echo
echo "==== The audit trail, a dry run, and quorvel doctor"
echo "  DllAudit.log holds a line for every call of this session that changed something; its"
echo "  first line, one change per row (passwords are written as ***):"
# An audit line, one change per row.
audit_rows() {
  awk -F'\t' 'NF >= 8 { printf "    %s %s %s %s %s result %s pid %s %s\n", $1, $2, $3, $4, $5, $6, $7, $8;
                         for (i = 9; i + 3 <= NF; i += 4) printf "      %s %s: %s -> %s\n", $i, $(i+1), $(i+2), $(i+3) }
              NF < 8 { print "    " $0 }'
}
# (sed reads to the end: head would leave the writers before it to a broken pipe)
iconv -f GBK -t UTF-8 "$machine/DllAudit.log" | tr -d '\r' | sed -n 1p | audit_rows
echo "  ($(wc -l <"$machine/DllAudit.log") lines in all)"
echo "  -- a dry run prints the lines a call would write, and changes nothing --"
echo; echo "\$ quorvel call --dry-run PostFtpSit ADD carol 'D:\\Serv-U' secret 'D:\\ftp\\carol' 'D:\\ftp\\carol|RWAMLCDP'"
"$root/build/quorvel" call --dry-run PostFtpSit ADD carol 'D:\Serv-U' secret 'D:\ftp\carol' 'D:\ftp\carol|RWAMLCDP' 2>&1 | audit_rows
q call PostFtpSit ISUSER carol 'D:\Serv-U'
echo "  -- quorvel doctor: sound, then three faults planted by hand, found, repaired --"
q call PostFtpSit ADD dora 'D:\Serv-U' secret 'D:\ftp\dora' 'D:\ftp\dora|RWAMLCDP'
q doctor || echo "  (exit status $?)"
printf '[USER=ghost|1]\r\nPassword=x\r\n' >>"$ini"
sed -i 's/^HomeDir=D:\\ftp\\dora/HomeDir=D:\\elsewhere/' "$ini"
sed -i 's/^NewAccountCreation=No/NewAccountCreation=Yes/' "$machine/drives/D/MDaemon/WorldClient/Domains.ini"
echo "  (planted: a section no account entry names, dora's HomeDir changed by hand, webmail self sign-up on)"
q doctor || echo "  (exit status $?: findings)"
q doctor --repair || echo "  (exit status $?: 2 when every finding was repaired, 1 when some are only reported)"
q doctor --json || true

if [ -x scripts/demo-windows.sh ]; then
  echo
  echo "==== The same session on Windows: quorvel.dll under Wine, driven by VBScript"
  ./scripts/demo-windows.sh
fi
