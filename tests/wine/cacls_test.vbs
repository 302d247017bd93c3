' PostCACLS through CreateObject: the command line that reaches the ACL tool.
' Wine has no NTFS permissions to look at, so a recording program stands in
' the current folder as CACLS.exe, where the command interpreter looks first.

Const LABEL = "PostCACLS函数"
Const CANNOT_RUN = "错误号：1，错误源：Cacls，错误描述：程序执行失败(参数不对)"

Dim site, shell, tool, record
Set site = CreateObject("Quorvel.SiteManage")
Set shell = CreateObject("WScript.Shell")
tool = NewFolder("tool")
gFso.CopyFile gDllFolder & "\record_command_line.exe", tool & "\CACLS.exe"
record = tool & "\CACLS.exe.txt"
shell.CurrentDirectory = tool

' Wine's cscript has no WScript.Sleep: wait on the clock instead.
Sub Pause(ms)
    Dim start: start = Timer
    Do While Timer >= start And Timer - start < ms / 1000
    Loop
End Sub

' The calls recorded since the last look, waiting a little for the ones
' started: the component does not wait for its command.
Function Recorded(expectCalls)
    On Error Resume Next
    Dim i, text
    For i = 1 To 200
        text = ReadAnsi(record)
        If UBound(Split(text, vbCrLf)) >= 2 * expectCalls Then Exit For
        Pause 50
    Next
    ' The recorder may still hold the file for a moment.
    For i = 1 To 100
        Err.Clear
        If gFso.FileExists(record) Then gFso.DeleteFile record
        If Err.Number = 0 Then Exit For
        Pause 20
    Next
    Err.Clear
    Recorded = text
End Function

' The arguments after the program's name in a recorded line.
Function ArgumentsOf(text)
    Dim parts: parts = Split(text & vbCrLf, vbCrLf)
    Dim line: line = Mid(parts(0), Len("line:") + 1)
    Dim rest
    If Left(line, 1) = """" Then
        rest = Mid(line, InStr(2, line, """") + 1)
    ElseIf InStr(line, " ") > 0 Then
        rest = Mid(line, InStr(line, " "))
    Else
        rest = ""
    End If
    ArgumentsOf = LTrim(rest)
End Function

Function StdinOf(text)
    Dim parts: parts = Split(text & vbCrLf & vbCrLf, vbCrLf)
    StdinOf = Mid(parts(1), Len("stdin:") + 1)
End Function

Sub GrantAndRevoke()
    MarkLog
    CheckEqual site.PostCACLS("ADD", "d:\web\site1", "u1", "C"), 0, "ADD result"
    Dim text: text = Recorded(1)
    CheckEqual ArgumentsOf(text), "d:\web\site1 /t /e /p u1:C", "the ADD line"
    CheckEqual StdinOf(text), "y", "the confirmation piped in"
    CheckEqual site.PostCACLS("add", "d:\web\site1", "u1", "R"), 0, "add in lower case"
    CheckEqual ArgumentsOf(Recorded(1)), "d:\web\site1 /t /e /p u1:R", "the add line"
    CheckEqual site.PostCACLS("Del", "d:\web\site1", "u1", "ignored"), 0, "DEL result"
    CheckEqual ArgumentsOf(Recorded(1)), "d:\web\site1 /t /e /r u1", "the DEL line ignores Owner"
    CheckNoLogLine "grant and revoke"
End Sub

Sub OtherWordsAndBlanks()
    MarkLog
    CheckEqual site.PostCACLS("LIST", "d:\web", "u1", "C"), 0, "another word"
    CheckEqual ArgumentsOf(Recorded(1)), "", "the prefix alone"
    CheckEqual site.PostCACLS("ADD", "d:\my web", "u1", "F"), 0, "a folder with a blank"
    CheckEqual ArgumentsOf(Recorded(1)), "d:\my web /t /e /p u1:F", "no quotes added"
    CheckEqual site.PostCACLS("ADD", """d:\my web""", "u1", "F"), 0, "a quoted folder"
    CheckEqual ArgumentsOf(Recorded(1)), """d:\my web"" /t /e /p u1:F", "the caller's quotes kept"
    CheckEqual site.PostCACLS("ADD", "d:\网站\站点一", "用户", "C"), 0, "Chinese names"
    CheckEqual ArgumentsOf(Recorded(1)), "d:\网站\站点一 /t /e /p 用户:C", "Chinese through the code page"
    CheckNoLogLine "other words"
End Sub

Sub Refusals()
    Dim bad, i, field, args, marker
    marker = gWorkFolder & "\marker.txt"
    bad = Array("&", "|", "<", ">", "^", "%", vbCr, vbLf, Chr(0))
    For i = 0 To UBound(bad)
        For field = 0 To 2
            args = Array("d:\web", "u1", "C")
            args(field) = "x" & bad(i) & "echo hacked>" & marker
            MarkLog
            CheckEqual site.PostCACLS("ADD", args(0), args(1), args(2)), 1, _
                "refused: character " & Asc(bad(i)) & " in argument " & field
            CheckOneLogLine LABEL, CANNOT_RUN, "refusal " & Asc(bad(i))
        Next
    Next
    ' An account or permission that would be another argument of the tool, and
    ' text the code page cannot hold.
    bad = Array(Array("d:\web", "u1", "R daemon:F"), Array("d:\web", "u1 daemon:F", "R"), _
        Array("d:\web", "u1", """R"""), Array("d:\web", "daemon:F", "R"), Array("d:\web", "u1", "R /T"), _
        Array("d:\web", "u" & Units("E4"), "R"), Array("d:\" & Units("D83D DE00"), "u1", "R"))
    For i = 0 To UBound(bad)
        args = bad(i)
        MarkLog
        CheckEqual site.PostCACLS("ADD", args(0), args(1), args(2)), 1, "refused: case " & i
        CheckOneLogLine LABEL, CANNOT_RUN, "refusal " & i
    Next
    Pause 500
    Check Not gFso.FileExists(record), "nothing was started for a refused call"
    Check Not gFso.FileExists(marker), "no second command ran"
End Sub

BeginCase "grant and revoke": GrantAndRevoke: EndCase
BeginCase "other words and blanks": OtherWordsAndBlanks: EndCase
BeginCase "refusals": Refusals: EndCase
Set site = Nothing
Finish
