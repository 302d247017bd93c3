' What every demo session shares; demo-windows.sh puts it in front of each
' session script. Arguments of a session: first the folder of the registered
' quorvel.dll (its DllErr.log is there), last the file that receives the
' transcript (in the system code page: Wine's cscript overruns its buffer
' when it echoes double-byte text).
Option Explicit

Dim fso, site, dllFolder, logMark, out
Set fso = CreateObject("Scripting.FileSystemObject")
dllFolder = WScript.Arguments(0)
Set out = fso.CreateTextFile(WScript.Arguments(WScript.Arguments.Count - 1), True, False)
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
