' PostFtpSit through CreateObject and IDispatch, on real ServUDaemon.ini files
' edited by the Windows profile functions.

Const LABEL = "PostFtpSit函数"
Const USER_EXISTS = "错误号：2，错误源：Ftp用户 ，错误描述：用户已经存在"
Const NO_SUCH_USER = "错误号：3，错误源：Ftp用户 ，错误描述：用户不存在"
Const NO_FTP_SOFTWARE = "错误号：1，错误源：Ftp软件 ，错误描述：Ftp软件未安装或版本错误"
Const UNSAFE_INPUT = "错误号：1，错误源：Ftp用户 ，错误描述：用户名、主目录或访问权限含有不允许的字符"
Const UNSAFE_PASSWORD = "错误号：1，错误源：Ftp用户 ，错误描述：密码含有不允许的字符"
' "vk" and the upper-case MD5 of "vk" followed by the password.
Const PASS_SECRET = "vkF2E64A0E1130B994E77C3D8003C9FF38"
Const PASS_EMPTY = "vk5D44A032652974C3E53644945A95B126"
Const PASS_NEWPASS = "vkD11F89BFFBE40F9B0DE1554EAD847B0A"

Dim site, cfile, ini
Set site = CreateObject("Quorvel.SiteManage")

Function Initial()
    Initial = Lines(Array("[GLOBAL]", "Version=6.4.0.6", "[DOMAINS]", "Domain1=0.0.0.0||21|Test|1|0", _
        "[Domain1]", "User1=a|1|0", "User2=b|1|0", "[USER=a|1]", "Password=x", "HomeDir=D:\ftp\a"))
End Function

' Every case starts from the same file, in a folder of its own.
Sub Fresh(name)
    cfile = NewFolder(name)
    ini = cfile & "\ServUDaemon.ini"
    WriteAnsi ini, Initial()
    MarkLog
End Sub

Sub AddWritesAccount()
    Fresh "add"
    CheckEqual site.PostFtpSit("ADD", "c", cfile, "secret", "D:\ftp\c", "D:\ftp\c|RWAMLCDP,D:\pub|RL", _
        3, 500, 10, 2, 4), 0, "ADD result"
    ' Windows' own layout: new keys after the last line of their section, a
    ' new section at the end, CR LF line ends.
    CheckEqual ReadAnsi(ini), Lines(Array("[GLOBAL]", "Version=6.4.0.6", "ReloadSettings=True", "[DOMAINS]", _
        "Domain1=0.0.0.0||21|Test|1|0", "[Domain1]", "User1=a|1|0", "User2=b|1|0", "User3=c|1|0", _
        "[USER=a|1]", "Password=x", "HomeDir=D:\ftp\a", _
        "[USER=c|1]", "Password=" & PASS_SECRET, "HomeDir=D:\ftp\c", "RelPaths=1", _
        "Access1=D:\ftp\c|RWAMLCDP", "Access2=D:\pub|RL", "DiskQuota=1|512000|0", "MaxNrUsers=3", _
        "SpeedLimitUp=2048", "SpeedLimitDown=4096", "SessionTimeOut=600", "TimeOut=600")), "file after ADD"
    CheckNoLogLine "ADD"
    Dim before: before = ReadAnsi(ini)
    CheckEqual site.PostFtpSit("add", "c", cfile, "other"), 2, "ADD of an existing account"
    CheckOneLogLine LABEL, USER_EXISTS, "ADD of an existing account"
    CheckEqual ReadAnsi(ini), before, "a refused ADD leaves the file alone"
End Sub

Sub OmittedArguments()
    Fresh "omitted"
    ' Missing optional arguments arrive as "" and 0; an empty access list is a
    ' failed step, so the call ends in 4 with every other key written.
    CheckEqual site.PostFtpSit("ADD", "d", cfile), 4, "ADD with the optional arguments omitted"
    CheckOneLogLine LABEL, "错误号：9，错误源：Quorvel，错误描述：下标越界", "the failed access step"
    Dim text: text = ReadAnsi(ini)
    CheckEqual IniValue(text, "Domain1", "User3"), "d|1|0", "user list entry"
    CheckEqual IniValue(text, "USER=d|1", "Password"), PASS_EMPTY, "password of the empty password"
    CheckEqual IniValue(text, "USER=d|1", "HomeDir"), "", "HomeDir"
    CheckEqual IniValue(text, "USER=d|1", "Access1"), "<missing>", "no access key"
    CheckEqual IniValue(text, "USER=d|1", "DiskQuota"), "1|0|0", "DiskQuota"
    CheckEqual IniValue(text, "USER=d|1", "TimeOut"), "0", "TimeOut"
    CheckEqual IniValue(text, "GLOBAL", "ReloadSettings"), "True", "reload flag"
End Sub

Sub EditAndPassword()
    Fresh "edit"
    site.PostFtpSit "ADD", "c", cfile, "secret", "D:\ftp\c", "D:\ftp\c|RWAMLCDP,D:\pub|RL", 3, 500, 10, 2, 4
    CheckEqual site.PostFtpSit("Edit", "c", cfile, "", "E:\c", "E:\c|RL", 1, 1, 1, 1, 1), 0, "EDIT result"
    Dim text: text = ReadAnsi(ini)
    CheckEqual IniValue(text, "USER=c|1", "Password"), PASS_EMPTY, "EDIT stores the empty password's value"
    CheckEqual IniValue(text, "USER=c|1", "Access1"), "E:\c|RL", "Access1 rewritten"
    CheckEqual IniValue(text, "USER=c|1", "Access2"), "D:\pub|RL", "Access2 above the new count is kept"
    CheckEqual IniValue(text, "USER=c|1", "DiskQuota"), "1|1024|0", "DiskQuota"
    CheckEqual IniValue(text, "USER=c|1", "SessionTimeOut"), "60", "SessionTimeOut"
    CheckEqual IniValue(text, "Domain1", "User3"), "c|1|0", "EDIT leaves the user list"
    CheckEqual site.PostFtpSit("MPASS", "c", cfile, "newpass"), 0, "MPASS result"
    CheckEqual IniValue(ReadAnsi(ini), "USER=c|1", "Password"), PASS_NEWPASS, "MPASS password"
    CheckNoLogLine "EDIT and MPASS"
    ' An overflowing product skips its key only.
    MarkLog
    CheckEqual site.PostFtpSit("EDIT", "c", cfile, "newpass", "E:\c", "E:\c|RL", 7, 2097152, 1, 1, 1), 4, _
        "EDIT with DiskQuota 2097152"
    text = ReadAnsi(ini)
    CheckEqual IniValue(text, "USER=c|1", "DiskQuota"), "1|1024|0", "the overflowing key is not written"
    CheckEqual IniValue(text, "USER=c|1", "MaxNrUsers"), "7", "the keys after it are"
    CheckOneLogLine LABEL, "错误号：6，错误源：Quorvel，错误描述：溢出", "overflow"
End Sub

Sub TwoFailures()
    Fresh "overflow"
    site.PostFtpSit "ADD", "c", cfile, "secret", "D:\ftp\c", "D:\ftp\c|R", 0, 0, 0, 0, 0
    MarkLog
    ' The empty access list fails first, the speed product later: only the
    ' later failure is reported.
    CheckEqual site.PostFtpSit("EDIT", "c", cfile, "", "", "", 0, 0, 0, 0, 2097152), 4, "two failed steps"
    CheckOneLogLine LABEL, "错误号：6，错误源：Quorvel，错误描述：溢出", "two failed steps"
End Sub

Sub StopStartDelete()
    Fresh "states"
    CheckEqual site.PostFtpSit("STOP", "b", cfile), 0, "STOP result"
    Dim text: text = ReadAnsi(ini)
    CheckEqual IniValue(text, "Domain1", "User2"), "b|0|0", "STOP suffix"
    CheckEqual IniValue(text, "USER=b|1", "Enable"), "0", "STOP Enable"
    CheckEqual site.PostFtpSit("start", "b", cfile), 0, "START result"
    text = ReadAnsi(ini)
    CheckEqual IniValue(text, "Domain1", "User2"), "b|1|0", "START suffix"
    CheckEqual IniValue(text, "USER=b|1", "Enable"), "1", "START Enable"
    CheckEqual site.PostFtpSit("ISUSER", "a", cfile), 0, "ISUSER of an account"
    CheckEqual site.PostFtpSit("DEL", "a", cfile), 0, "DEL result"
    text = ReadAnsi(ini)
    CheckEqual IniValue(text, "Domain1", "User1"), "b|1|0", "DEL moves the next entry up"
    CheckEqual IniValue(text, "Domain1", "User2"), "<missing>", "and leaves no gap"
    Check Not HasSection(text, "USER=a|1"), "DEL removes the account's section"
    CheckNoLogLine "STOP, START, ISUSER, DEL"
End Sub

Sub MissingAccount()
    Fresh "missing"
    Dim actions, i
    actions = Array("EDIT", "DEL", "MPASS", "ISUSER", "STOP", "START")
    For i = 0 To UBound(actions)
        MarkLog
        CheckEqual site.PostFtpSit(actions(i), "A", cfile, "x", "x", "x"), 3, actions(i) & " of a missing account"
        CheckOneLogLine LABEL, NO_SUCH_USER, actions(i) & " of a missing account"
    Next
    CheckEqual ReadAnsi(ini), Initial(), "nothing written for a missing account"
    MarkLog
    CheckEqual site.PostFtpSit("RENAME", "a", cfile), 0, "an unknown action word"
    CheckNoLogLine "an unknown action word"
    CheckEqual ReadAnsi(ini), Initial(), "nothing written for an unknown action word"
End Sub

Sub NoConfigurationFile()
    cfile = NewFolder("nofile")
    MarkLog
    CheckEqual site.PostFtpSit("ADD", "a", cfile, "x", "x", "x"), 1, "ADD without ServUDaemon.ini"
    CheckOneLogLine LABEL, NO_FTP_SOFTWARE, "ADD without ServUDaemon.ini"
    MarkLog
    CheckEqual site.PostFtpSit("RENAME", "a", cfile), 1, "an unknown action word without ServUDaemon.ini"
    CheckOneLogLine LABEL, NO_FTP_SOFTWARE, "an unknown action word without ServUDaemon.ini"
    ' A folder of that name is not the file.
    gFso.CreateFolder cfile & "\ServUDaemon.ini"
    CheckEqual site.PostFtpSit("ISUSER", "a", cfile), 1, "a folder named ServUDaemon.ini"
    Check Not gFso.FileExists(cfile & "\ServUDaemon.ini"), "no file is created"
End Sub

' Names in the system code page, with double-byte characters whose second
' byte is "]" or "\" (0x5D, 0x5C).
Sub ChineseAccount()
    Fresh "gbk"
    Dim name: name = "匽刓张三"
    CheckEqual site.PostFtpSit("ADD", name, cfile, "secret", "D:\ftp\张三", "D:\ftp\张三|RL"), 0, "ADD of " & name
    Dim text: text = ReadAnsi(ini)
    CheckEqual IniValue(text, "Domain1", "User3"), name & "|1|0", "user list entry in the code page"
    CheckEqual IniValue(text, "USER=" & name & "|1", "HomeDir"), "D:\ftp\张三", "HomeDir in the code page"
    CheckEqual site.PostFtpSit("ISUSER", name, cfile), 0, "ISUSER finds it"
    CheckEqual site.PostFtpSit("DEL", name, cfile), 0, "DEL of " & name
    CheckEqual ReadAnsi(ini), Replace(Initial(), "[GLOBAL]" & vbCrLf & "Version=6.4.0.6" & vbCrLf, _
        "[GLOBAL]" & vbCrLf & "Version=6.4.0.6" & vbCrLf & "ReloadSettings=True" & vbCrLf), _
        "the file after ADD and DEL"
End Sub

' A name, folder or password the code page cannot hold would be written as
' "?": refused, the file untouched.
Sub OutsideTheCodePage()
    Fresh "outside"
    Dim emoji: emoji = Units("D83D DE00")
    CheckEqual site.PostFtpSit("ADD", "c" & Units("E4"), cfile, "secret", "D:\ftp\c", "x"), 1, _
        "a name with a letter the code page lacks"
    CheckOneLogLine LABEL, UNSAFE_INPUT, "a name the code page cannot hold"
    MarkLog
    CheckEqual site.PostFtpSit("ADD", "c", cfile, "secret", "D:\" & emoji, "x"), 1, "a home folder with an emoji"
    CheckOneLogLine LABEL, UNSAFE_INPUT, "a home folder the code page cannot hold"
    MarkLog
    CheckEqual site.PostFtpSit("MPASS", "a", cfile, "p" & emoji), 1, "a password with an emoji"
    CheckOneLogLine LABEL, UNSAFE_PASSWORD, "a password the code page cannot hold"
    CheckEqual ReadAnsi(ini), Initial(), "the file is untouched"
End Sub

Sub AuditTrail()
    ' DllAudit.log beside DllErr.log: one line for each call that changed
    ' something, the password as ***; none for a look-up or a refused call.
    Fresh "audit"
    Dim logPath: logPath = gDllFolder & "\DllAudit.log"
    Dim mark: mark = Len(ReadAnsi(logPath))
    CheckEqual site.PostFtpSit("ADD", "c", cfile, "secret", "D:\ftp\c", "D:\ftp\c|RL", 3, 500, 10, 2, 4), 0, "ADD"
    CheckEqual site.PostFtpSit("ISUSER", "c", cfile), 0, "ISUSER"
    CheckEqual site.PostFtpSit("ADD", "c", cfile, "secret"), 2, "ADD of an existing account"
    CheckEqual site.PostFtpSit("MPASS", "c", cfile, "newpass"), 0, "MPASS"
    Dim added: added = Mid(ReadAnsi(logPath), mark + 1)
    CheckEqual Right(added, 2), vbCrLf, "lines end with CR LF"
    Dim lines: lines = Split(Left(added, Len(added) - 2), vbCrLf)
    CheckEqual UBound(lines), 1, "two lines"
    Dim f: f = Split(lines(0), vbTab)
    CheckEqual f(2) & " " & f(3) & " " & f(4) & " " & f(5), "PostFtpSit ADD c 0", "the ADD line"
    Check IsNumeric(f(6)) And f(7) <> "", "process id and account"
    Check InStr(lines(0), vbTab & ini & vbTab & "[Domain1]User3" & vbTab & "-" & vbTab & "c|1|0" & vbTab) > 0, _
        "the entry added"
    Check InStr(lines(0), vbTab & "[USER=c|1]Password" & vbTab & "-" & vbTab & "***" & vbTab) > 0, _
        "the password masked"
    f = Split(lines(1), vbTab)
    CheckEqual Mid(lines(1), InStr(lines(1), "PostFtpSit")), "PostFtpSit" & vbTab & "MPASS" & vbTab & "c" & _
        vbTab & "0" & vbTab & f(6) & vbTab & f(7) & vbTab & ini & _
        vbTab & "[USER=c|1]Password" & vbTab & "***" & vbTab & "***", "the MPASS line"
    Check InStr(added, "secret") = 0 And InStr(added, PASS_SECRET) = 0 And InStr(added, PASS_NEWPASS) = 0, _
        "no password in the trail"
End Sub

Sub AnotherMethodOnTheSameObject()
    ' One object serves every method; a call that does nothing returns 0.
    On Error Resume Next
    Dim r: r = site.BackupSit("NOOP", 7, "x", "C:\x", "C:\y")
    CheckEqual Err.Number, 0, "BackupSit raises nothing"
    CheckEqual r, 0, "BackupSit of an unknown edition returns 0"
    Err.Clear
End Sub

BeginCase "ADD": AddWritesAccount: EndCase
BeginCase "audit trail": AuditTrail: EndCase
BeginCase "omitted arguments": OmittedArguments: EndCase
BeginCase "EDIT and MPASS": EditAndPassword: EndCase
BeginCase "two failures": TwoFailures: EndCase
BeginCase "STOP, START, DEL": StopStartDelete: EndCase
BeginCase "missing account": MissingAccount: EndCase
BeginCase "no configuration file": NoConfigurationFile: EndCase
BeginCase "code page 936 names": ChineseAccount: EndCase
BeginCase "another method": AnotherMethodOnTheSameObject: EndCase
BeginCase "outside the code page": OutsideTheCodePage: EndCase
Set site = Nothing
Finish
