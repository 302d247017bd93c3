' Backups of the FTP and mail configurations through Quorvel.SiteManage, as
' a control-panel script makes them on Windows (lib/session.vbs comes in
' front). Arguments: the folder of the registered quorvel.dll, the Serv-U
' folder, the MDaemon folder, the backup folder and the transcript file.
Dim servu, mdaemon, bak
servu = WScript.Arguments(1)
mdaemon = WScript.Arguments(2)
bak = WScript.Arguments(3)

Sub WriteAnsi(path, text)
    Dim f: Set f = fso.CreateTextFile(path, True, False)
    f.Write text
    f.Close
End Sub

' The lines of a file that begin with one of the prefixes.
Sub ShowLines(path, prefixes)
    Dim lines, i, j
    lines = Split(ReadAnsi(path), vbCrLf)
    For i = 0 To UBound(lines)
        For j = 0 To UBound(prefixes)
            If Left(lines(i), Len(prefixes(j))) = prefixes(j) Then out.WriteLine "    " & lines(i)
        Next
    Next
End Sub

Sub ShowBackups()
    Dim f, names: names = ""
    For Each f In fso.GetFolder(bak).Files
        names = names & f.Name & " "
    Next
    If names = "" Then names = "nothing"
    out.WriteLine "  " & bak & " holds: " & names
End Sub

Dim ini, domains
ini = servu & "\ServUDaemon.ini"
domains = mdaemon & "\App\Domains.dat"

Show "BackupSit(""BACKUP"", 1, ""before"", servu, bak)", site.BackupSit("BACKUP", 1, "before", servu, bak)
Show "BackupSit(""BACKUP"", 2, ""before"", mdaemon, bak)", site.BackupSit("BACKUP", 2, "before", mdaemon, bak)
ShowBackups

out.WriteLine ""
out.WriteLine "  -- the live configuration changes: an FTP account, a mail domain's address --"
Show "PostFtpSit(""ADD"", ""bob"", servu, ""pw"", ""D:\ftp\bob"", ""D:\ftp\bob|RL"")", _
    site.PostFtpSit("ADD", "bob", servu, "pw", "D:\ftp\bob", "D:\ftp\bob|RL")
ShowLines ini, Array("User")
WriteAnsi domains, Replace(ReadAnsi(domains), "IP=192.168.1.10", "IP=10.0.0.99")
ShowLines domains, Array("IP=")

Show "BackupSit(""RESTORE"", 1, ""before"", servu, bak)", site.BackupSit("RESTORE", 1, "before", servu, bak)
ShowLines ini, Array("User")
Show "BackupSit(""Restore"", 2, ""before"", mdaemon, bak)", site.BackupSit("Restore", 2, "before", mdaemon, bak)
ShowLines domains, Array("IP=")

out.WriteLine ""
out.WriteLine "  -- a name that would leave the backup folder is refused; a missing backup fails --"
MarkLog
Show "BackupSit(""BACKUP"", 1, ""..\Serv-U\ServUDaemon"", servu, bak)", _
    site.BackupSit("BACKUP", 1, "..\Serv-U\ServUDaemon", servu, bak)
Show "BackupSit(""RESTORE"", 1, ""never"", servu, bak)", site.BackupSit("RESTORE", 1, "never", servu, bak)
ShowLog

Show "BackupSit(""DEL"", 1, ""before"", servu, bak)", site.BackupSit("DEL", 1, "before", servu, bak)
Show "BackupSit(""DEL"", 2, ""before"", mdaemon, bak)", site.BackupSit("DEL", 2, "before", mdaemon, bak)
ShowBackups
out.Close
