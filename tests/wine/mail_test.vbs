On Error Resume Next
' PostEmailDomain, GetMailPass and PostEmail through CreateObject and
' IDispatch, with WinINet talking to the webmail stand-in of the POSIX build
' (its port is in webmail-port.txt; it serves the folder "mail" here).

Const DOMAIN_LABEL = "PostEmailDomain函数"
Const MAIL_LABEL = "PostEmail函数"
Const PASS_LABEL = "GetMailPass函数"
Const DOMAIN_EXISTS = "错误号：2，错误源：邮箱域名 ，错误描述：邮箱域名已经存在"
Const NO_SUCH_DOMAIN = "错误号：3，错误源：邮箱域名 ，错误描述：邮箱域名不存在"
Const NO_MAIL_SOFTWARE = "错误号：1，错误源：Mail软件 ，错误描述：Mail软件未安装或版本错误"
Const MAIL_OFF = "错误号：6，错误源：Mail软件 ，错误描述：Mail软件未开启或版本错误"
Const NOT_SENT = "错误号：2，错误源：Mail软件 ，错误描述：Mail软件IP不存在或设置出错"
Const MAILBOX_EXISTS = "错误号：2，错误源：邮箱，错误描述：邮箱已经存在"
Const NO_SUCH_MAILBOX = "错误号：3，错误源：邮箱，错误描述：邮箱不存在"
Const DOMAIN_UNSAFE = "错误号：1，错误源：邮箱域名 ，错误描述：域名或IP地址含有不允许的字符"
Const MAILBOX_UNSAFE = "错误号：1，错误源：邮箱，错误描述：域名、邮箱、姓名、限额超出字段宽度或含有不允许的字符"
Const PASSWORD_UNSAFE = "错误号：1，错误源：邮箱，错误描述：密码含有不允许的字符"
Const LEFT_REMOVED = "错误号：5，错误源：Mail软件 ，错误描述：已删除中断调用遗留的临时帐号"

Dim site, mailDir, port, domains, userList, settings
Set site = CreateObject("Quorvel.SiteManage")
mailDir = gWorkFolder & "\mail"
port = Trim(Replace(ReadAnsi(gWorkFolder & "\webmail-port.txt"), vbLf, ""))
domains = mailDir & "\App\Domains.dat"
userList = mailDir & "\App\USERLIST.DAT"
settings = mailDir & "\WorldClient\Domains.ini"

Sub Setup()
    If Not gFso.FolderExists(mailDir) Then gFso.CreateFolder mailDir
    If Not gFso.FolderExists(mailDir & "\App") Then gFso.CreateFolder mailDir & "\App"
    If Not gFso.FolderExists(mailDir & "\WorldClient") Then gFso.CreateFolder mailDir & "\WorldClient"
    WriteAnsi domains, Lines(Array("[other.com]", "IP=9.9.9.9"))
    WriteAnsi userList, ""
    SetPort port
End Sub

Sub SetPort(p)
    WriteAnsi settings, Lines(Array("[Default:Settings]", "NewAccountCreation=No", "Port=" & p))
End Sub

Function Pad(text, width)
    Pad = text & Space(width - Len(text))
End Function

' The user list's lines, without their line ends.
Function ListLines()
    Dim text: text = ReadAnsi(userList)
    If Right(text, 2) = vbCrLf Then text = Left(text, Len(text) - 2)
    If text = "" Then
        ListLines = Array()
    Else
        ListLines = Split(text, vbCrLf)
    End If
End Function

Sub DomainActions()
    MarkLog
    CheckEqual site.PostEmailDomain("add", mailDir, "example.com", "1.2.3.4", True, 30, -5, 7, False), 0, "ADD"
    CheckEqual ReadAnsi(domains), Lines(Array("[other.com]", "IP=9.9.9.9", "[example.com]", "IP=1.2.3.4", _
        "Bind=Yes", "MaxInactive=30", "MaxMessageAge=-5", "MaxDeletedIMAPMessageAge=7", "RecurseIMAP=No")), _
        "file after ADD"
    CheckNoLogLine "ADD"
    CheckEqual site.PostEmailDomain("ADD", mailDir, "EXAMPLE.COM", "1.2.3.4"), 2, "second ADD"
    CheckOneLogLine DOMAIN_LABEL, DOMAIN_EXISTS, "second ADD"
    CheckEqual site.PostEmailDomain("IsSearch", mailDir, "example.com"), 0, "ISSEARCH"
    CheckEqual site.PostEmailDomain("EDIT", mailDir, "example.com", "5.6.7.8"), 0, "EDIT"
    CheckEqual IniValue(ReadAnsi(domains), "example.com", "IP"), "5.6.7.8", "IP after EDIT"
    CheckEqual IniValue(ReadAnsi(domains), "example.com", "Bind"), "No", "Bind after EDIT"
    CheckEqual site.PostEmailDomain("DEL", mailDir, "example.com"), 0, "DEL"
    CheckEqual ReadAnsi(domains), Lines(Array("[other.com]", "IP=9.9.9.9")), "file after DEL"
    MarkLog
    CheckEqual site.PostEmailDomain("ISSEARCH", mailDir, "example.com"), 3, "ISSEARCH after DEL"
    CheckOneLogLine DOMAIN_LABEL, NO_SUCH_DOMAIN, "ISSEARCH after DEL"
    CheckEqual site.PostEmailDomain("ADD", mailDir, "x]y.com", "1.2.3.4"), 1, "a name with ]"
    CheckEqual ReadAnsi(domains), Lines(Array("[other.com]", "IP=9.9.9.9")), "nothing written for ]"
    MarkLog
    CheckEqual site.PostEmailDomain("ADD", gWorkFolder & "\nowhere", "example.com"), 1, "no domain file"
    CheckOneLogLine DOMAIN_LABEL, NO_MAIL_SOFTWARE, "no domain file"
End Sub

Sub PasswordLookup()
    WriteAnsi userList, ""
    Dim stored, again
    stored = site.GetMailPass("127.0.0.1", mailDir, "a&b=c+d%e")
    CheckEqual Len(stored), 20, "stored form length " & Shown(stored)
    Check stored <> "a&b=c+d%e", "the stored form is not the password"
    again = site.GetMailPass("127.0.0.1", mailDir, "a&b=c+d%e")
    CheckEqual again, stored, "the same password gives the same form"
    Check site.GetMailPass("127.0.0.1", mailDir, "other") <> stored, "another password another form"
    CheckEqual ReadAnsi(userList), "", "the temporary record is gone"
    CheckEqual IniValue(ReadAnsi(settings), "Default:Settings", "NewAccountCreation"), "No", "creation off again"
    Check gFso.FileExists(mailDir & "\App\UserList.sem"), "semaphore created"
End Sub

Sub MailboxActions()
    WriteAnsi userList, ""
    MarkLog
    Dim stored, found, expected
    stored = site.GetMailPass("127.0.0.1", mailDir, "secret")
    CheckEqual site.PostEmail("add", mailDir, "example.com", "info", "127.0.0.1", "张三", "secret", 50, 10240), 0, "ADD"
    found = ListLines()
    CheckEqual UBound(found) + 1, 1, "one record"
    expected = Pad("example.com", 45) & Pad("info", 30) & Pad("张三", 30) & _
        Pad(mailDir & "\Users\example.com\info\", 90) & Pad(stored, 20) & "NNYYYNNYNN" & "0050" & "010240"
    If UBound(found) = 0 Then
        CheckEqual found(0), expected, "the record"
        CheckEqual Len(found(0)), 235, "235 characters"
    End If
    CheckEqual site.PostEmail("ADD", mailDir, "example.com", "Info", "127.0.0.1"), 0, "ADD of another case"
    CheckEqual site.PostEmail("ADD", mailDir, "example.com", "info", "127.0.0.1"), 2, "second ADD"
    CheckOneLogLine MAIL_LABEL, MAILBOX_EXISTS, "second ADD"
    CheckEqual site.PostEmail("EDIT", mailDir, "example.com", "info", "127.0.0.1", "", "secret"), 0, "EDIT"
    found = ListLines()
    CheckEqual Mid(found(0), 76, 30), Space(30), "EDIT blanks the full name"
    CheckEqual Right(found(0), 10), "0000000000", "EDIT zeroes the limits"
    CheckEqual site.PostEmail("DEL", mailDir, "example.com", "info", "127.0.0.1"), 0, "DEL"
    found = ListLines()
    CheckEqual UBound(found) + 1, 1, "one record left"
    CheckEqual Mid(found(0), 46, 30), Pad("Info", 30), "the other case is left"
    MarkLog
    CheckEqual site.PostEmail("DEL", mailDir, "example.com", "info", "127.0.0.1"), 3, "DEL again"
    CheckOneLogLine MAIL_LABEL, NO_SUCH_MAILBOX, "DEL again"
End Sub

Sub NoWebmailServer()
    Dim before: before = ReadAnsi(userList)
    SetPort 1
    MarkLog
    CheckEqual site.PostEmail("DEL", mailDir, "example.com", "Info", "127.0.0.1"), 6, "code 6"
    Dim logged: logged = NewLogLines()
    CheckEqual UBound(logged) + 1, 2, "two log lines"
    If UBound(logged) = 1 Then
        CheckLogLine logged(0), PASS_LABEL, NOT_SENT, "GetMailPass line"
        CheckLogLine logged(1), MAIL_LABEL, MAIL_OFF, "PostEmail line"
    End If
    CheckEqual ReadAnsi(userList), before, "nothing written"
    CheckEqual IniValue(ReadAnsi(settings), "Default:Settings", "NewAccountCreation"), "No", "creation off"
    SetPort port
End Sub

' Text the code page cannot hold (Korean, an emoji, a letter best fit would
' turn into "a") is refused before anything is written or sent.
Sub OutsideTheCodePage()
    Dim korean, emoji, before
    korean = Units("D55C AD6D")
    emoji = "a" & Units("D83D DE00")
    before = ReadAnsi(domains) & "|" & ReadAnsi(userList) & "|" & ReadAnsi(settings)
    MarkLog
    CheckEqual site.PostEmailDomain("ADD", mailDir, korean & ".com", "1.2.3.4"), 1, "a domain in Korean"
    CheckOneLogLine DOMAIN_LABEL, DOMAIN_UNSAFE, "a domain in Korean"
    MarkLog
    CheckEqual site.PostEmail("ADD", mailDir, "example.com", emoji, "127.0.0.1"), 1, "a mailbox with an emoji"
    CheckOneLogLine MAIL_LABEL, MAILBOX_UNSAFE, "a mailbox with an emoji"
    MarkLog
    CheckEqual site.PostEmail("ADD", mailDir, "example.com", "info2", "127.0.0.1", "", "p" & Units("E4")), 1, _
        "a password the code page cannot hold"
    CheckOneLogLine MAIL_LABEL, PASSWORD_UNSAFE, "a password the code page cannot hold"
    CheckEqual site.GetMailPass("127.0.0.1", mailDir, emoji), "", "GetMailPass of such a password"
    CheckEqual ReadAnsi(domains) & "|" & ReadAnsi(userList) & "|" & ReadAnsi(settings), before, "nothing written"
End Sub

' What a call killed after the webmail server added its temporary account
' leaves: creation on, the record at the end of the list. The next call puts
' that right first and stores its own password.
Sub AfterAKilledCall()
    Dim temporary, found, stored
    temporary = Pad("localhost", 45) & Pad("Quorvel", 30) & Pad("Quorvel", 30) & Space(90) & _
        Pad("KILLEDCALLFORM", 20) & "NNYYYNNYNN" & "0000" & "000000"
    WriteAnsi userList, temporary & vbCrLf
    WriteAnsi settings, Lines(Array("[Default:Settings]", "NewAccountCreation=Yes", "Port=" & port))
    MarkLog
    CheckEqual site.PostEmail("ADD", mailDir, "example.com", "after", "127.0.0.1", "", "fresh"), 0, "ADD"
    CheckOneLogLine MAIL_LABEL, LEFT_REMOVED, "ADD"
    CheckEqual IniValue(ReadAnsi(settings), "Default:Settings", "NewAccountCreation"), "No", "creation off"
    found = ListLines()
    CheckEqual UBound(found) + 1, 1, "the new mailbox alone"
    stored = site.GetMailPass("127.0.0.1", mailDir, "fresh")
    If UBound(found) = 0 Then CheckEqual Mid(found(0), 196, 20), stored, "its own password's form"

    ' Left by a lookup called directly: the next lookup's own form.
    WriteAnsi userList, temporary & vbCrLf
    CheckEqual site.GetMailPass("127.0.0.1", mailDir, "fresh"), stored, "the next lookup"
    CheckEqual ReadAnsi(userList), "", "the list is empty again"
End Sub

Setup
BeginCase "domains": DomainActions: EndCase
BeginCase "outside the code page": OutsideTheCodePage: EndCase
BeginCase "password lookup": PasswordLookup: EndCase
BeginCase "mailboxes": MailboxActions: EndCase
BeginCase "no webmail server": NoWebmailServer: EndCase
BeginCase "after a killed call": AfterAKilledCall: EndCase
Finish
