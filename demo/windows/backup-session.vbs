' Backups of the FTP and mail configurations and of the IIS metabase through
' Quorvel.SiteManage, as a control-panel script makes them on Windows
' (lib/session.vbs comes in front). Arguments: the folder of the registered
' quorvel.dll, the Serv-U folder, the MDaemon folder, the backup folder and
' the transcript file.
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

' The IIS metabase: IIS keeps the backups itself, in numbered versions.
Sub ShowIisBackups()
    Dim line, n: n = 0
    For Each line In GetObject("IIS://localhost").EnumBackups("before-tuning")
        out.WriteLine "  IIS keeps: " & Replace(line, vbTab, "  ")
        n = n + 1
    Next
    If n = 0 Then out.WriteLine "  IIS keeps no backup named before-tuning"
End Sub

Sub ShowConnections(number)
    out.WriteLine "  IIS://localhost/W3SVC/" & number & " MaxConnections = " & _
        GetObject("IIS://localhost/W3SVC/" & number).MaxConnections
End Sub

out.WriteLine ""
out.WriteLine "  -- the whole IIS metabase: backed up, a web site's setting changed, restored --"
Dim web, child, n
Show "PostWebSit(""ADD"", ""backup.example"", ""D:\web\backup"", ... 100, ...)", _
    site.PostWebSit("ADD", "backup.example", "D:\web\backup", "index.htm", "", ":80:backup.example", "R", _
        "D:\logs", 100, 900, 1024, 50)
For Each child In GetObject("IIS://localhost/W3SVC")
    If LCase(child.Class) = "iiswebserver" Then
        If child.ServerComment = "backup.example" Then n = child.Name
    End If
Next
Show "BackupSit(""BACKUP"", 0, ""before-tuning"", """", """")", site.BackupSit("BACKUP", 0, "before-tuning", "", "")
ShowIisBackups
Set web = GetObject("IIS://localhost/W3SVC/" & n)
web.MaxConnections = 999
web.SetInfo
out.WriteLine "  (the script sets MaxConnections to 999)"
ShowConnections n
Show "BackupSit(""RESTORE"", 0, ""before-tuning"", """", """")", site.BackupSit("RESTORE", 0, "before-tuning", "", "")
ShowConnections n
Show "BackupSit(""DEL"", 0, ""before-tuning"", """", """")", site.BackupSit("DEL", 0, "before-tuning", "", "")
ShowIisBackups
MarkLog
Show "BackupSit(""RESTORE"", 0, ""before-tuning"", """", """")", site.BackupSit("RESTORE", 0, "before-tuning", "", "")
ShowLog
Show "PostWebSit(""DEL"", ""backup.example"")", site.PostWebSit("DEL", "backup.example")
out.Close
