' Outgoing mail through Quorvel.SiteManage, as a control-panel script sends
' it on Windows, with the stand-in mail components registered. Arguments:
' the address (host:port) of the local SMTP sink and the file that receives
' the transcript, in the system code page.
Option Explicit

Dim fso, site, smtp, out
Set fso = CreateObject("Scripting.FileSystemObject")
smtp = WScript.Arguments(0)
Set out = fso.CreateTextFile(WScript.Arguments(1), True, False)
Set site = CreateObject("Quorvel.SiteManage")

Sub Show(what, result)
    out.WriteLine ""
    out.WriteLine "> " & what & "  ->  " & result
End Sub

Show "SendMail(0, ""panel@webhost01.example"", ""alice@example.com"", ""站点已开通"", ""<p>您好 ...</p>"", """", """", """ & smtp & """)", _
    site.SendMail(0, "panel@webhost01.example", "alice@example.com", "站点已开通", "<p>您好，您的站点 <b>alice</b> 已开通。</p>", "", "", smtp)
Show "SendMail(1, ..., ""bob@example.com"", ""Quota"", ..., ""panel"", ""s3cret"", """ & smtp & """)", _
    site.SendMail(1, "panel@webhost01.example", "bob@example.com", "Quota", "Your mailbox is almost full.", "panel", "s3cret", smtp)
Show "SendMail(0, ..., ""reject-me@example.com"", ...)   ' refused by the server", _
    site.SendMail(0, "panel@webhost01.example", "reject-me@example.com", "Hello", "x", "", "", smtp)
out.Close
