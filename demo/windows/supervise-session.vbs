' Page supervision through Quorvel.SiteManage, as a control-panel script runs
' it on Windows. Arguments: the folder of the registered quorvel.dll (its
' DllErr.log is there), the address (host:port) of the local page server and
' the file that receives the transcript, in the system code page.
Option Explicit

Dim fso, site, dllFolder, server, logMark, out
Set fso = CreateObject("Scripting.FileSystemObject")
dllFolder = WScript.Arguments(0)
server = WScript.Arguments(1)
Set out = fso.CreateTextFile(WScript.Arguments(2), True, False)
Set site = CreateObject("Quorvel.SiteManage")

Function ReadAnsi(path)
    ReadAnsi = ""
    If Not fso.FileExists(path) Then Exit Function
    Dim f: Set f = fso.OpenTextFile(path, 1, False, 0)
    If Not f.AtEndOfStream Then ReadAnsi = f.ReadAll
    f.Close
End Function

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

out.WriteLine "(the page http://" & server & "/found holds ""Service is RUNNING"")"
Show "Supervise(""http://" & server & "/found"", ""running"")", site.Supervise("http://" & server & "/found", "running")
MarkLog
Show "Supervise(""" & server & "/found"", ""stopped"")", site.Supervise(server & "/found", "stopped")
ShowLog
out.Close
