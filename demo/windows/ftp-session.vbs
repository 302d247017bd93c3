' A short FTP account session through Quorvel.SiteManage, as a control-panel
' script runs it on Windows. Arguments: the folder of the registered
' quorvel.dll (its DllErr.log is there), the Serv-U folder and the file that
' receives the transcript (in the system code page: Wine's cscript overruns
' its buffer when it echoes double-byte text).
Option Explicit

Dim fso, site, dllFolder, servu, ini, logMark, out
Set fso = CreateObject("Scripting.FileSystemObject")
dllFolder = WScript.Arguments(0)
servu = WScript.Arguments(1)
Set out = fso.CreateTextFile(WScript.Arguments(2), True, False)
ini = servu & "\ServUDaemon.ini"
Set site = CreateObject("Quorvel.SiteManage")

Function ReadAnsi(path)
    ReadAnsi = ""
    If Not fso.FileExists(path) Then Exit Function
    Dim f: Set f = fso.OpenTextFile(path, 1, False, 0)
    If Not f.AtEndOfStream Then ReadAnsi = f.ReadAll
    f.Close
End Function

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

Sub Show(what, result)
    out.WriteLine ""
    out.WriteLine "> " & what & "  ->  " & result
End Sub

Sub MarkLog()
    logMark = Len(ReadAnsi(dllFolder & "\DllErr.log"))
End Sub

Sub ShowLog()
    out.WriteLine "  DllErr.log gained:"
    Dim gained: gained = Mid(ReadAnsi(dllFolder & "\DllErr.log"), logMark + 1)
    If Right(gained, 2) = vbCrLf Then gained = Left(gained, Len(gained) - 2)
    out.WriteLine "    " & Replace(gained, vbCrLf, vbCrLf & "    ")
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
