#!/usr/bin/env bash
# The demo: builds the component and its host, registers it on a copy of the
# example machine in demo/machine, and runs a scripted session through
# `quorvel call`, then the same session under Wine against quorvel.dll.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

./scripts/install-deps.sh all >/dev/null

echo "building the POSIX component and host..."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target quorvel_com quorvel_host >/dev/null

machine=$root/build/demo-machine
rm -rf "$machine"
cp -r demo/machine "$machine"
export QUORVEL_MACHINE=$machine
q() { echo; echo "\$ quorvel $*"; "$root/build/quorvel" "$@"; }
ini=$machine/drives/D/Serv-U/ServUDaemon.ini
log=$root/build/DllErr.log
touch "$log"
log_mark() { mark=$(stat -c %s "$log"); }
log_show() { echo "  DllErr.log gained:"; tail -c +$((mark + 1)) "$log" | iconv -f GBK -t UTF-8 | sed 's/^/    /'; }
# Prints the named sections of the FTP configuration file.
sections() {
  for s in "$@"; do
    awk -v want="[$s]" 'BEGIN{IGNORECASE=1} { sub(/\r$/, "") } /^\[/ { on = ($0 == want) } on { print "    " $0 }' "$ini"
  done
}

echo
echo "==== The component and its interface"
q regsvr "$root/build/libquorvel.so"
q methods

echo
echo "==== A call that fails is logged: no FTP configuration in D:\\nowhere"
log_mark
q call PostFtpSit ADD alice 'D:\nowhere' secret
log_show

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
log_mark
q call PostFtpSit ADD shop 'D:\Serv-U' other
log_show
q call PostFtpSit DEL webmaster 'D:\Serv-U'
sections Domain1
q call PostFtpSit ISUSER alice 'D:\Serv-U'

echo
echo "==== Folder permissions: PostCACLS starts the ACL tool through the command interpreter"
site=$machine/drives/D/web/site1
mkdir -p "$site/images"
echo hello >"$site/index.html"
# The call returns once the command started; the ACL tool finishes soon after.
acl_of() { getfacl -p "$1" 2>/dev/null | sed '/^$/d; s/^/    /'; }
wait_acl() { for _ in $(seq 50); do getfacl -p "$1" 2>/dev/null | grep -q "$2" && return; sleep 0.1; done; }
wait_no_acl() { for _ in $(seq 50); do getfacl -p "$1" 2>/dev/null | grep -q "$2" || return 0; sleep 0.1; done; }
q call PostCACLS ADD 'D:\web\site1' nobody R
wait_acl "$site/images" 'user:nobody'
echo "  getfacl of D:\web\site1\images:"
acl_of "$site/images"
q call PostCACLS DEL 'D:\web\site1' nobody ''
wait_no_acl "$site/images" 'user:nobody'
echo "  getfacl of D:\web\site1\images after DEL:"
acl_of "$site/images"
echo "  A folder that would start a second command is refused, and nothing runs:"
log_mark
q call PostCACLS ADD 'D:\web\site1 & touch /tmp/quorvel-demo-hacked' nobody F
log_show
echo "  the ACL tool by hand:"
echo "\$ cacls --help"
"$root/build/cacls" --help | sed 's/^/    /'

echo
echo "==== Shutdown and reboot: the machine's [Shutdown] commands (here harmless ones)"
printf '[Shutdown]\r\nReboot=touch "%s"\r\n' "$machine/reboot-requested" >>"$machine/machine.ini"
sed -n '/^\[Shutdown\]/,$p' "$machine/machine.ini" | tr -d '\r' | sed 's/^/    /'
q call ExitWindows reboot
for _ in $(seq 50); do [ -e "$machine/reboot-requested" ] && break; sleep 0.1; done
ls "$machine/reboot-requested" >/dev/null && echo "  the Reboot command ran: $machine/reboot-requested exists"
echo "  No PowerOff command is configured: the request is refused, and said so:"
log_mark
q call ExitWindows SHUTDOWN
log_show

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
log_mark
q call PostNTUser ADDUSER 'again' web_zhang 'Secret-2' Users
log_show
q call PostNTUser DELUSER '' web_zhang '' ''
q adsi enum 'WinNT://WEBHOST01'

echo
echo "==== Page supervision: a page served on 127.0.0.1"
pages=$root/build/demo-pages
rm -f "$pages"
python3 tests/servers/page_server.py "$pages" &
page_server=$!
trap 'kill $page_server 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$pages" ] && break; sleep 0.1; done
server=$(cat "$pages")
echo "  (the page http://$server/found holds \"Service is RUNNING\")"
q call Supervise "http://$server/found" running
log_mark
q call Supervise "$server/found" stopped
log_show
log_mark
q call Supervise "http://127.0.0.1:1/" running
log_show
kill $page_server 2>/dev/null
trap - EXIT

echo
echo "==== Methods not built yet say so"
q call PostWebSit ISSEARCH site1 || true

if [ -x scripts/demo-windows.sh ]; then
  echo
  echo "==== The same session on Windows: quorvel.dll under Wine, driven by VBScript"
  ./scripts/demo-windows.sh
fi
