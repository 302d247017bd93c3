' A short FTP account session through Quorvel.SiteManage, as a control-panel
' script runs it on Windows (lib/session.vbs comes in front). Arguments: the
' folder of the registered quorvel.dll, the Serv-U folder and the transcript
' file.
Dim servu, ini
servu = WScript.Arguments(1)
ini = servu & "\ServUDaemon.ini"

' Prints the named sections of ServUDaemon.ini, or says that one is gone.
Sub Sections(names)
    Dim lines, i, j, line, shown
    lines = Split(ReadAnsi(ini), vbCrLf)
    For j = 0 To UBound(names)
        shown = False
        For i = 0 To UBound(lines)
            line = lines(i)
            If Left(line, 1) = "[" Then
                If shown Then Exit For
                shown = (LCase(line) = "[" & LCase(names(j)) & "]")
            End If
            If shown And line <> "" Then out.WriteLine "    " & line
        Next
        If Not shown And InStr(1, ReadAnsi(ini), "[" & names(j) & "]", 1) = 0 Then
            out.WriteLine "    (no section [" & names(j) & "])"
        End If
    Next
End Sub

Show "PostFtpSit(""ADD"", ""alice"", ..., ""secret"", ""D:\ftp\alice"", ""D:\ftp\alice|RWAMLCDP"", 10, 500, 10, 64, 128)", _
    site.PostFtpSit("ADD", "alice", servu, "secret", "D:\ftp\alice", "D:\ftp\alice|RWAMLCDP", 10, 500, 10, 64, 128)
Sections Array("Domain1", "USER=alice|1", "GLOBAL")

Show "PostFtpSit(""STOP"", ""alice"", ...)", site.PostFtpSit("STOP", "alice", servu)
Sections Array("Domain1", "USER=alice|1")

Show "PostFtpSit(""START"", ""alice"", ...)", site.PostFtpSit("START", "alice", servu)
Sections Array("Domain1", "USER=alice|1")

Show "PostFtpSit(""MPASS"", ""alice"", ..., ""n3w-pass"")", site.PostFtpSit("MPASS", "alice", servu, "n3w-pass")
Sections Array("USER=alice|1")

MarkLog
Show "PostFtpSit(""ADD"", ""shop"", ..., ""other"")   ' shop exists", site.PostFtpSit("ADD", "shop", servu, "other")
ShowLog

Show "PostFtpSit(""DEL"", ""alice"", ...)", site.PostFtpSit("DEL", "alice", servu)
Sections Array("Domain1", "USER=alice|1")

Show "PostFtpSit(""ISUSER"", ""alice"", ...)", site.PostFtpSit("ISUSER", "alice", servu)
out.Close
