' The assertions, file helpers and log reader that every *_test.vbs uses. The
' runner puts this file in front of each test and converts the whole to the
' system code page, the encoding cscript reads.
'
' Arguments of every test: the folder that holds the registered quorvel.dll
' (its DllErr.log is there) and a work folder of the test's own.
'
' The report goes to output.txt in the work folder, in the system code page,
' not to WScript.Echo: Wine's cscript overruns its buffer when it echoes text
' with double-byte characters.
Option Explicit

Dim gFso, gDllFolder, gWorkFolder, gOutput, gCase, gPassed, gFailed, gLogMark
Set gFso = CreateObject("Scripting.FileSystemObject")
gDllFolder = WScript.Arguments(0)
gWorkFolder = WScript.Arguments(1)
Set gOutput = gFso.CreateTextFile(gWorkFolder & "\output.txt", True, False)
gPassed = 0
gFailed = 0
gLogMark = 0

Const E_NOTIMPL = -2147467263

' A case is a Sub called between BeginCase and EndCase with "On Error Resume
' Next" in force at the top level: an unexpected script error ends the case
' and is reported by EndCase instead of ending the whole script.
Sub BeginCase(name)
    gCase = name
    Err.Clear
End Sub

Sub EndCase()
    If Err.Number <> 0 Then
        Fail "unexpected error " & Err.Number & " (" & Hex(Err.Number) & ") " & Err.Description
    End If
    Err.Clear
End Sub

Sub Say(text)
    gOutput.WriteLine text
End Sub

Sub Fail(what)
    gFailed = gFailed + 1
    Say "FAIL [" & gCase & "] " & what
End Sub

Sub Check(condition, what)
    If condition Then
        gPassed = gPassed + 1
    Else
        Fail what
    End If
End Sub

Function Shown(value)
    Shown = "[" & Replace(Replace(CStr(value), vbCr, "\r"), vbLf, "\n") & "]"
End Function

Sub CheckEqual(actual, expected, what)
    If CStr(actual) = CStr(expected) Then
        gPassed = gPassed + 1
    Else
        Fail what & ": expected " & Shown(expected) & ", got " & Shown(actual)
    End If
End Sub

Sub Finish()
    Say "RESULT " & gPassed & " " & gFailed
    gOutput.Close
    If gFailed > 0 Then WScript.Quit 1
    WScript.Quit 0
End Sub

' Files in the system code page (ANSI), as the component and the FTP server see them.
Function ReadAnsi(path)
    ReadAnsi = ""
    If Not gFso.FileExists(path) Then Exit Function
    Dim f: Set f = gFso.OpenTextFile(path, 1, False, 0)
    If Not f.AtEndOfStream Then ReadAnsi = f.ReadAll
    f.Close
End Function

Sub WriteAnsi(path, text)
    Dim f: Set f = gFso.CreateTextFile(path, True, False)
    f.Write text
    f.Close
End Sub

' A fresh, empty folder below the work folder.
Function NewFolder(name)
    Dim path: path = gWorkFolder & "\" & name
    If gFso.FolderExists(path) Then gFso.DeleteFolder path, True
    gFso.CreateFolder path
    NewFolder = path
End Function

' Lines of CR LF text, the last one ended.
Function Lines(parts)
    Dim i, text: text = ""
    For i = 0 To UBound(parts)
        text = text & parts(i) & vbCrLf
    Next
    Lines = text
End Function

' The value of a key as the profile functions read it (first section and key
' of that name, any case); "<missing>" when absent.
Function IniValue(text, section, key)
    Dim all, i, line, inSection, pos
    IniValue = "<missing>"
    all = Split(text, vbCrLf)
    inSection = False
    For i = 0 To UBound(all)
        line = Trim(all(i))
        If Left(line, 1) = "[" Then
            If inSection Then Exit Function
            inSection = (LCase(line) = "[" & LCase(section) & "]")
        ElseIf inSection Then
            pos = InStr(line, "=")
            If pos > 0 Then
                If LCase(Trim(Left(line, pos - 1))) = LCase(key) Then
                    IniValue = Trim(Mid(line, pos + 1))
                    Exit Function
                End If
            End If
        End If
    Next
End Function

Function HasSection(text, section)
    HasSection = InStr(1, vbCrLf & text, vbCrLf & "[" & section & "]" & vbCrLf, 1) > 0
End Function

' The error log: MarkLog remembers its end, NewLogLines returns what was
' appended since, decoded from the system code page.
Function LogText()
    LogText = ReadAnsi(gDllFolder & "\DllErr.log")
End Function

Sub MarkLog()
    gLogMark = Len(LogText())
End Sub

Function NewLogLines()
    Dim rest: rest = Mid(LogText(), gLogMark + 1)
    If rest = "" Then
        NewLogLines = Array()
    Else
        If Right(rest, 2) = vbCrLf Then rest = Left(rest, Len(rest) - 2)
        NewLogLines = Split(rest, vbCrLf)
    End If
End Function

' One log line: short date and time, each padded to a print zone of 14
' columns, the label padded to the next zone, the message.
Sub CheckLogLine(line, label, message, what)
    Dim re: Set re = New RegExp
    re.Pattern = "^\d{4}/\d{1,2}/\d{1,2} +$"
    Check re.Test(Left(line, 14)), what & ": the date fills the first print zone in " & Shown(line)
    re.Pattern = "^\d{1,2}:\d{2}:\d{2} +$"
    Check re.Test(Mid(line, 15, 14)), what & ": the time fills the second print zone in " & Shown(line)
    CheckEqual Mid(line, 29), label & Space(14 - (AnsiLength(label) Mod 14)) & message, what
End Sub

' Bytes of a text in the system code page: a double-byte character counts two.
Function AnsiLength(text)
    Dim i, n: n = 0
    For i = 1 To Len(text)
        If Asc(Mid(text, i, 1)) < 0 Or Asc(Mid(text, i, 1)) > 255 Then
            n = n + 2
        Else
            n = n + 1
        End If
    Next
    AnsiLength = n
End Function

Sub CheckOneLogLine(label, message, what)
    Dim logged: logged = NewLogLines()
    CheckEqual UBound(logged) + 1, 1, what & ": one log line"
    If UBound(logged) = 0 Then CheckLogLine logged(0), label, message, what
End Sub

Sub CheckNoLogLine(what)
    Dim logged: logged = NewLogLines()
    If UBound(logged) >= 0 Then
        Fail what & ": nothing logged, but got " & Shown(logged(0))
    Else
        gPassed = gPassed + 1
    End If
End Sub

' Local accounts through the WinNT directory of this computer. Wine's
' ExpandEnvironmentStrings keeps the string's terminating NUL.
Dim gComputer: gComputer = Replace(CreateObject("WScript.Shell").ExpandEnvironmentStrings("%COMPUTERNAME%"), Chr(0), "")

Function Account(name)
    Set Account = GetObject("WinNT://" & gComputer).GetObject("user", name)
End Function

Function IsMember(group, name)
    IsMember = GetObject("WinNT://" & gComputer).GetObject("group", group).IsMember("WinNT://" & gComputer & "/" & name)
End Function

On Error Resume Next

' Text of UTF-16 code units given in hexadecimal ("61 D83D DE00"), also ones
' the code page cannot hold or unpaired surrogates: Wine's VBScript has no
' ChrW, and a script is read in the code page. The units travel through a
' Unicode .reg file (hex(1) is REG_SZ as raw UTF-16) and the registry.
Function Units(codes)
    Dim parts, i, unit, bytes, path, f, shell
    parts = Split(codes, " ")
    bytes = ""
    For i = 0 To UBound(parts)
        unit = Right("000" & parts(i), 4)
        bytes = bytes & Right(unit, 2) & "," & Left(unit, 2) & ","
    Next
    path = gWorkFolder & "\units.reg"
    Set f = gFso.CreateTextFile(path, True, True)
    f.WriteLine "Windows Registry Editor Version 5.00"
    f.WriteLine ""
    f.WriteLine "[HKEY_CURRENT_USER\Software\QuorvelTest]"
    f.WriteLine """units""=hex(1):" & bytes & "00,00"
    f.Close
    Set shell = CreateObject("WScript.Shell")
    shell.Run "reg import """ & path & """", 0, True
    Units = shell.RegRead("HKCU\Software\QuorvelTest\units")
End Function
