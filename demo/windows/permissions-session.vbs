' Folder permissions and the shutdown privilege through Quorvel.SiteManage.
' Wine has no NTFS permissions: a program that records its command line
' stands as CACLS.exe in the current folder, where the command interpreter
' finds it, and the transcript shows what CACLS would have been given.
' Arguments: the folder of the registered quorvel.dll, the folder holding
' CACLS.exe, the transcript file (in the system code page).
Dim shell, tool, record
Set shell = CreateObject("WScript.Shell")
tool = WScript.Arguments(1)
record = tool & "\CACLS.exe.txt"
shell.CurrentDirectory = tool

' Wine's cscript has no WScript.Sleep: wait on the clock instead.
Sub Pause(ms)
    Dim start: start = Timer
    Do While Timer >= start And Timer - start < ms / 1000
    Loop
End Sub

' What CACLS received: its command line and its standard input.
Sub ShowRecorded()
    On Error Resume Next
    Dim i, text
    For i = 1 To 200
        text = ReadAnsi(record)
        If InStr(text, "stdin:") > 0 Then Exit For
        Pause 50
    Next
    If text = "" Then
        out.WriteLine "    (CACLS was not started)"
        Exit Sub
    End If
    text = Replace(Replace(Replace(text, "line:", ""), vbCrLf & "stdin:", "   (input: "), vbCrLf, ")")
    out.WriteLine "    CACLS got: " & text
    ' The recorder may still hold the file for a moment.
    For i = 1 To 100
        Err.Clear
        fso.DeleteFile record
        If Err.Number = 0 Then Exit For
        Pause 20
    Next
End Sub

out.WriteLine "> site.PostCACLS(""ADD"", ""d:\web\site1"", ""web_user"", ""R"") = " & _
    site.PostCACLS("ADD", "d:\web\site1", "web_user", "R")
ShowRecorded
out.WriteLine "> site.PostCACLS(""DEL"", ""d:\web\site1"", ""web_user"", """") = " & _
    site.PostCACLS("DEL", "d:\web\site1", "web_user", "")
ShowRecorded
MarkLog
out.WriteLine "> site.PostCACLS(""ADD"", ""d:\web\site1 & del /q c:\*"", ""web_user"", ""F"") = " & _
    site.PostCACLS("ADD", "d:\web\site1 & del /q c:\*", "web_user", "F")
ShowLog
Pause 500
ShowRecorded
out.WriteLine "> site.ExitWindows(""PRIVILEGE"") = " & site.ExitWindows("PRIVILEGE") & _
    "   (enables the shutdown privilege, requests nothing)"
out.Close
