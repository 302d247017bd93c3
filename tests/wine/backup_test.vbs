' BackupSit through CreateObject and IDispatch: the FTP and mail
' configuration files, and the IIS metabase in the store of the directory
' provider registered in the prefix.

Const LABEL = "BackupSit函数"
Const NO_FTP = "错误号：2，错误源：Serv-u软件 ，错误描述：Serv-U软件未安装或版本错误"
Const NO_MAIL = "错误号：2，错误源：MDaemon软件 ，错误描述：MDaemon软件未安装或版本错误"
Const NO_FOLDER = "错误号：3，错误源：备份 ，错误描述：备份路径不存在！"
Const UNSAFE_NAME = "错误号：1，错误源：备份 ，错误描述：备份名含有不允许的字符"
Const FILE_NOT_FOUND = "错误号：53，错误源：Quorvel，错误描述：文件未找到"
Const PERMISSION_DENIED = "错误号：70，错误源：Quorvel，错误描述：没有权限"
Const NO_IIS_BACKUP = "错误号：-2147024894，错误源：Quorvel，错误描述：系统找不到指定的文件。"

Dim site, root, servu, mdaemon, bak
Set site = CreateObject("Quorvel.SiteManage")

' CR LF and lone LF line ends, double-byte text whose second byte is "\".
Function Sample(tag)
    Sample = "[GLOBAL]" & vbCrLf & "Version=6.4.0.6" & vbLf & "Tag=" & tag & vbCrLf & "Name=匽刓张三" & vbCrLf
End Function

' Every case starts from its own folders.
Sub Fresh(name)
    root = NewFolder(name)
    servu = root & "\Serv-U"
    mdaemon = root & "\MDaemon"
    bak = root & "\bak"
    gFso.CreateFolder servu
    gFso.CreateFolder mdaemon
    gFso.CreateFolder mdaemon & "\App"
    gFso.CreateFolder bak
    WriteAnsi servu & "\ServUDaemon.ini", Sample("live")
    WriteAnsi mdaemon & "\App\USERLIST.DAT", "users" & vbCrLf
    WriteAnsi mdaemon & "\App\DOMAINS.DAT", "[example.com]" & vbCrLf
    MarkLog
End Sub

Function Ftp(action, name)
    Ftp = site.BackupSit(action, 1, name, servu, bak)
End Function

Function Mail(action, name)
    Mail = site.BackupSit(action, 2, name, mdaemon, bak)
End Function

Sub FtpCycle()
    Fresh "ftp"
    CheckEqual Ftp("BACKUP", "night"), 0, "BACKUP"
    CheckEqual ReadAnsi(bak & "\1_night.bak"), Sample("live"), "the backup is the live file"
    WriteAnsi servu & "\ServUDaemon.ini", Sample("second")
    CheckEqual Ftp("backup", "night"), 0, "a second BACKUP of the name"
    CheckEqual ReadAnsi(bak & "\1_night.bak"), Sample("second"), "replaces the first"
    WriteAnsi servu & "\ServUDaemon.ini", Sample("changed")
    CheckEqual Ftp("Restore", "night"), 0, "RESTORE"
    CheckEqual ReadAnsi(servu & "\ServUDaemon.ini"), Sample("second"), "the live file is the backup"
    CheckEqual Ftp("del", "night"), 0, "DEL"
    Check Not gFso.FileExists(bak & "\1_night.bak"), "DEL removes the backup"
    CheckEqual gFso.GetFolder(bak).Files.Count, 0, "nothing else is left in the backup folder"
    CheckNoLogLine "BACKUP, RESTORE, DEL"
    CheckEqual Ftp("RESTORE", "night"), 4, "RESTORE of a deleted backup"
    CheckOneLogLine LABEL, FILE_NOT_FOUND, "RESTORE of a deleted backup"
    CheckEqual ReadAnsi(servu & "\ServUDaemon.ini"), Sample("second"), "a failed RESTORE leaves the live file"
End Sub

Sub MailCycle()
    Fresh "mdaemon"
    CheckEqual Mail("BACKUP", "week"), 0, "BACKUP"
    CheckEqual ReadAnsi(bak & "\2_U_week.bak"), "users" & vbCrLf, "the user list's backup"
    CheckEqual ReadAnsi(bak & "\2_D_week.bak"), "[example.com]" & vbCrLf, "the domains' backup"
    WriteAnsi mdaemon & "\App\USERLIST.DAT", "changed"
    WriteAnsi mdaemon & "\App\DOMAINS.DAT", "changed"
    CheckEqual Mail("RESTORE", "week"), 0, "RESTORE"
    CheckEqual ReadAnsi(mdaemon & "\App\USERLIST.DAT"), "users" & vbCrLf, "the user list restored"
    CheckEqual ReadAnsi(mdaemon & "\App\DOMAINS.DAT"), "[example.com]" & vbCrLf, "the domains restored"
    CheckNoLogLine "BACKUP and RESTORE"
    ' The domains are still restored when the user list's backup is missing.
    gFso.DeleteFile bak & "\2_U_week.bak"
    WriteAnsi mdaemon & "\App\DOMAINS.DAT", "changed"
    MarkLog
    CheckEqual Mail("RESTORE", "week"), 4, "RESTORE without the user list's backup"
    CheckEqual ReadAnsi(mdaemon & "\App\DOMAINS.DAT"), "[example.com]" & vbCrLf, "the second file is still restored"
    CheckOneLogLine LABEL, FILE_NOT_FOUND, "RESTORE without the user list's backup"
    MarkLog
    CheckEqual Mail("DEL", "week"), 4, "DEL without the user list's backup"
    Check Not gFso.FileExists(bak & "\2_D_week.bak"), "the second backup is still deleted"
    CheckOneLogLine LABEL, FILE_NOT_FOUND, "DEL without the user list's backup"
End Sub

Sub ChecksInOrder()
    Dim words, i
    words = Array("BACKUP", "RESTORE", "DEL", "OTHER")
    For i = 0 To UBound(words)
        Fresh "checks" & i
        gFso.DeleteFile servu & "\ServUDaemon.ini"
        CheckEqual site.BackupSit(words(i), 1, "x", servu, root & "\nowhere"), 2, words(i) & " without ServUDaemon.ini"
        CheckOneLogLine LABEL, NO_FTP, words(i) & " without ServUDaemon.ini"
        gFso.DeleteFile mdaemon & "\App\DOMAINS.DAT"
        MarkLog
        CheckEqual site.BackupSit(words(i), 2, "x", mdaemon, root & "\nowhere"), 2, words(i) & " without DOMAINS.DAT"
        CheckOneLogLine LABEL, NO_MAIL, words(i) & " without DOMAINS.DAT"
        WriteAnsi servu & "\ServUDaemon.ini", "x"
        WriteAnsi mdaemon & "\App\DOMAINS.DAT", "x"
        MarkLog
        CheckEqual site.BackupSit(words(i), 1, "x", servu, root & "\nowhere"), 3, words(i) & " without BakPath"
        CheckOneLogLine LABEL, NO_FOLDER, words(i) & " without BakPath"
        MarkLog
        CheckEqual site.BackupSit(words(i), 2, "x", mdaemon, root & "\nowhere"), 3, words(i) & " without BakPath"
        CheckOneLogLine LABEL, NO_FOLDER, words(i) & " without BakPath"
    Next
    Fresh "nothing"
    CheckEqual Ftp("COPY", "x"), 0, "an unknown action word"
    CheckEqual site.BackupSit("BACKUP", 3, "x", servu, bak), 0, "edition 3"
    CheckEqual site.BackupSit("BACKUP", -1, "x", servu, bak), 0, "edition -1"
    CheckNoLogLine "unknown words and editions"
    CheckEqual gFso.GetFolder(bak).Files.Count, 0, "unknown words and editions write nothing"
End Sub

Sub ReadOnlyBackup()
    Fresh "readonly"
    WriteAnsi bak & "\1_kept.bak", "kept"
    gFso.GetFile(bak & "\1_kept.bak").Attributes = 1
    CheckEqual Ftp("BACKUP", "kept"), 4, "BACKUP over a read-only backup"
    CheckOneLogLine LABEL, PERMISSION_DENIED, "BACKUP over a read-only backup"
    CheckEqual ReadAnsi(bak & "\1_kept.bak"), "kept", "the read-only backup is kept"
    CheckEqual Ftp("RESTORE", "kept"), 0, "RESTORE of a read-only backup"
    CheckEqual gFso.GetFile(servu & "\ServUDaemon.ini").Attributes And 1, 0, "the live file stays writable"
    MarkLog
    CheckEqual Ftp("DEL", "kept"), 0, "DEL of a read-only backup"
    Check Not gFso.FileExists(bak & "\1_kept.bak"), "is forced"
    CheckNoLogLine "DEL of a read-only backup"
End Sub

Sub Traversal()
    Fresh "traversal"
    gFso.CreateFolder bak & "\1_x"
    gFso.CreateFolder bak & "\2_U_x"
    gFso.CreateFolder bak & "\2_D_x"
    WriteAnsi root & "\victim.bak", "victim"
    Dim names, actions, i, j
    names = Array("x\..\..\victim", "x/../../victim", "..", "C:victim", root & "\victim", "*", "x?", "a|b", _
        "x" & Chr(0) & "y", "x:stream")
    actions = Array("BACKUP", "RESTORE", "DEL")
    For i = 0 To UBound(names)
        For j = 0 To UBound(actions)
            MarkLog
            CheckEqual Ftp(actions(j), names(i)), 1, actions(j) & " " & names(i)
            CheckOneLogLine LABEL, UNSAFE_NAME, actions(j) & " " & names(i)
            MarkLog
            CheckEqual Mail(actions(j), names(i)), 1, actions(j) & " " & names(i)
            CheckOneLogLine LABEL, UNSAFE_NAME, actions(j) & " " & names(i)
        Next
    Next
    CheckEqual ReadAnsi(root & "\victim.bak"), "victim", "nothing outside the backup folder is touched"
    CheckEqual ReadAnsi(servu & "\ServUDaemon.ini"), Sample("live"), "nothing is restored"
    CheckEqual gFso.GetFolder(bak).Files.Count, 0, "nothing is written"
End Sub

' The prefix keeps the metabase and its backups between runs: every name is
' new to this one.
Dim gRun: gRun = Replace(Replace(Replace(CStr(Now), "/", ""), ":", ""), " ", "") & "-" & Int(Rnd * 100000)

Function Iis(action, name)
    Iis = site.BackupSit(action, 0, name, "", "")
End Function

' The versions kept under a name, as "0 1 ...".
Function Versions(name)
    Dim line, parts, text: text = ""
    For Each line In GetObject("IIS://localhost").EnumBackups(name)
        parts = Split(line, vbTab)
        text = Trim(text & " " & parts(1))
    Next
    Versions = text
End Function

Function SiteNumber(name)
    SiteNumber = 0
    Dim child
    For Each child In GetObject("IIS://localhost/W3SVC")
        If LCase(child.Class) = "iiswebserver" Then
            If child.ServerComment = name Then SiteNumber = CLng(child.Name)
        End If
    Next
End Function

Sub SetConnections(path, n)
    Dim s: Set s = GetObject(path)
    s.MaxConnections = n
    s.SetInfo
End Sub

Sub IisCycle()
    Dim web, name, path, n
    web = "backup-" & gRun
    name = "b" & gRun
    MarkLog
    CheckEqual site.PostWebSit("ADD", web, "D:\web\b", "index.htm", "", ":80:" & web, "R", "D:\logs", 10, 900, 100, 50), _
        0, "a site to back up"
    n = SiteNumber(web)
    path = "IIS://localhost/W3SVC/" & n
    CheckEqual Iis("BACKUP", name), 0, "BACKUP"
    SetConnections path, 20
    CheckEqual Iis("backup", name), 0, "a second BACKUP"
    CheckEqual Versions(name), "0 1", "each BACKUP adds a version"
    SetConnections path, 30
    Dim root: Set root = GetObject(path & "/ROOT")
    root.Path = "D:\moved"
    root.SetInfo
    CheckEqual Iis("Restore", name), 0, "RESTORE"
    CheckEqual GetObject(path).MaxConnections, 20, "the newest backup is restored"
    CheckEqual GetObject(path & "/ROOT").Path, "D:\web\b", "with the root directory"
    CheckNoLogLine "BACKUP, RESTORE"

    CheckEqual Iis("DEL", name), 0, "DEL"
    CheckEqual Versions(name), "1", "DEL removes version 0 only"
    CheckEqual Iis("DEL", name), 4, "DEL of a deleted version"
    CheckOneLogLine LABEL, NO_IIS_BACKUP, "DEL of a deleted version"
    MarkLog
    CheckEqual Iis("RESTORE", "never" & gRun), 4, "RESTORE of a missing backup"
    CheckOneLogLine LABEL, NO_IIS_BACKUP, "RESTORE of a missing backup"
    MarkLog
    CheckEqual Iis("LIST", name), 0, "an unknown action word"
    CheckEqual Versions(name), "1", "writes nothing"
    CheckNoLogLine "an unknown action word"

    GetObject("IIS://localhost").DeleteBackup name, 1
    CheckEqual site.PostWebSit("DEL", web), 0, "the site removed again"
End Sub

BeginCase "FTP backup, restore, delete": FtpCycle: EndCase
BeginCase "mail backup, restore, delete": MailCycle: EndCase
BeginCase "checks in order": ChecksInOrder: EndCase
BeginCase "read-only backups": ReadOnlyBackup: EndCase
BeginCase "names that leave the backup folder": Traversal: EndCase
BeginCase "IIS metabase backup, restore, delete": IisCycle: EndCase
Set site = Nothing
Finish
