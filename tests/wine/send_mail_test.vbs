' SendMail through CreateObject and IDispatch, with the stand-in mail
' components registered in the prefix, into the SMTP sink whose address
' test-windows.sh puts in QUORVEL_TEST_SMTP and whose folder (a Windows path)
' in QUORVEL_TEST_MAIL.

Const SENDER_REFUSED = -2147220978      ' &H8004020E
Const RECIPIENT_REFUSED = -2147220977   ' &H8004020F
Const NO_CONNECTION = -2147220973       ' &H80040213
Const UNSAFE_FIELD = -2147220979        ' &H8004020D
Const OBJECT_NOT_SET = 91

Dim site, shell, smtp, mailFolder, seen
Set site = CreateObject("Quorvel.SiteManage")
Set shell = CreateObject("WScript.Shell")
' Wine's ExpandEnvironmentStrings leaves the terminating NUL on the text.
smtp = Replace(shell.ExpandEnvironmentStrings("%QUORVEL_TEST_SMTP%"), Chr(0), "")
mailFolder = Replace(shell.ExpandEnvironmentStrings("%QUORVEL_TEST_MAIL%"), Chr(0), "")
seen = 0

' The messages the sink received since the last call.
Function NewMessages()
    Dim n: n = 0
    Do While gFso.FileExists(mailFolder & "\" & (seen + n + 1) & ".json")
        n = n + 1
    Loop
    NewMessages = n
End Function

Function Envelope(n)
    Envelope = ReadAnsi(mailFolder & "\" & n & ".json")
End Function

Function Message(n)
    Message = ReadAnsi(mailFolder & "\" & n & ".eml")
End Function

Sub ExpectSent(result, what)
    CheckEqual result, 0, what
    CheckEqual NewMessages(), 1, what & ": one message in the sink"
    seen = seen + 1
End Sub

Sub ExpectNotSent(result, expected, what)
    CheckEqual result, expected, what
    CheckEqual NewMessages(), 0, what & ": nothing in the sink"
End Sub

Sub JmailSmtpMail()
    MarkLog
    ExpectSent site.SendMail(0, "panel@host.example", "alice@example.com", "站点已开通", "<b>您好</b>", _
        "unused", "unused", smtp), "JMAIL.SmtpMail"
    Check InStr(Envelope(seen), """rcpt_to"": [""<alice@example.com>""]") > 0, "recipient on the wire: " & Envelope(seen)
    Check InStr(Envelope(seen), """auth"": null") > 0, "no logon with 0: " & Envelope(seen)
    Check InStr(Envelope(seen), """helo"": ""localhost""") > 0, "the greeting names no machine: " & Envelope(seen)
    Check InStr(Message(seen), "Content-Type: text/html; charset=""GB2312""") > 0, "HTML in GB2312"
    Check InStr(Message(seen), "Subject: =?GB2312?B?") > 0, "the subject in GB2312"
    CheckNoLogLine "SendMail keeps no log"
End Sub

Sub JmailMessage()
    ExpectSent site.SendMail(1, "panel@host.example", "bob@example.com", "Quota", "text", "panel", "s3cret", smtp), _
        "JMAIL.Message with a user name"
    Check InStr(Envelope(seen), """user"": ""panel"", ""password"": ""s3cret""") > 0, "logon: " & Envelope(seen)
    Check InStr(Message(seen), "X-Priority: 1") > 0, "priority 1"
    ExpectSent site.SendMail(1, "panel@host.example", "bob@example.com", "Quota", "text", "", "", smtp), _
        "JMAIL.Message without a user name"
    Check InStr(Envelope(seen), """auth"": null") > 0, "no logon without a user name: " & Envelope(seen)
End Sub

Sub Cdonts()
    shell.RegWrite "HKLM\SOFTWARE\Quorvel\Mail\SmtpServer", smtp, "REG_SZ"
    ExpectSent site.SendMail(2, "panel@host.example", "carol@example.com", "Hello", "Plain", "x", "y", _
        "192.0.2.1:9"), "CDONTS.NewMail to the configured relay"
    Check InStr(Message(seen), "Content-Type: text/plain") > 0, "CDONTS sends plain text"
End Sub

Sub Failures()
    ExpectNotSent site.SendMail(3, "a@x", "b@y", "s", "b", "", "", smtp), 0, "Sign 3 sends nothing"
    ExpectNotSent site.SendMail(-1, "a@x", "b@y", "s", "b", "", "", smtp), 0, "Sign -1 sends nothing"
    ExpectNotSent site.SendMail(0, "a@x", "reject-me@y", "s", "b", "", "", smtp), RECIPIENT_REFUSED, _
        "a refused recipient"
    ExpectNotSent site.SendMail(0, "a@x", "b@y", "s", "b", "", "", "127.0.0.1:1"), NO_CONNECTION, _
        "an unreachable server"
    ExpectNotSent site.SendMail(1, "a@x", "b@y" & vbCrLf & "Bcc: victim@z", "s", "b", "", "", smtp), UNSAFE_FIELD, _
        "a line break in the recipient"
    ExpectNotSent site.SendMail(0, "a@x", "b@y", "hi" & vbLf & "Bcc: victim@z", "b", "", "", smtp), UNSAFE_FIELD, _
        "a line break in the subject"
    ' An address that would carry a parameter or a second address, text the
    ' code page cannot hold: refused by the component, nothing on the wire.
    ExpectNotSent site.SendMail(0, "a@x", "a@x> SIZE=1 <evil@example.org", "s", "b", "", "", smtp), _
        RECIPIENT_REFUSED, "a recipient smuggling a parameter"
    ExpectNotSent site.SendMail(1, "a@x> BODY=8BITMIME", "b@y", "s", "b", "", "", smtp), SENDER_REFUSED, _
        "a sender smuggling a parameter"
    ExpectNotSent site.SendMail(2, "a@x", "b y@z", "s", "b", "", "", smtp), RECIPIENT_REFUSED, _
        "a blank in the recipient"
    ExpectNotSent site.SendMail(0, "a@x", "b@y", "s", "<p>" & Units("D83D DE00"), "", "", smtp), _
        UNSAFE_FIELD, "a body the code page cannot hold"
End Sub

Sub NotInstalled()
    ' Without the component's ProgID the creation fails (429) and every later
    ' step fails on the missing object: the last failure is 91.
    shell.Run "reg delete HKCR\JMAIL.SmtpMail /f", 0, True
    ExpectNotSent site.SendMail(0, "a@x", "b@y", "s", "b", "", "", smtp), OBJECT_NOT_SET, "JMAIL.SmtpMail not installed"
    shell.Run "reg add HKCR\JMAIL.SmtpMail\CLSID /ve /d {3F0C8A52-71E4-4B9D-A6C3-2E5D8B1F4A01} /f", 0, True
    ExpectSent site.SendMail(0, "a@x", "b@y", "s", "b", "", "", smtp), "installed again"
End Sub

BeginCase "JMAIL.SmtpMail": JmailSmtpMail: EndCase
BeginCase "JMAIL.Message": JmailMessage: EndCase
BeginCase "CDONTS.NewMail": Cdonts: EndCase
BeginCase "failures": Failures: EndCase
BeginCase "not installed": NotInstalled: EndCase
Set site = Nothing
Finish
