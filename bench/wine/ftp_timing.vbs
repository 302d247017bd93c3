' Times PostFtpSit from a script, as a control panel calls it, on a
' ServUDaemon.ini of 997 accounts: ISUSER of account 500, ADD of new accounts
' and DEL of the first account, each as the average of a batch of calls.
'
' Arguments: a folder holding accounts.ini (the 997-account file) and the
' report file to write.
Option Explicit

Const CALLS = 20
Dim fso, site, folder, ini, report, started, i, result, failures
Set fso = CreateObject("Scripting.FileSystemObject")
Set site = CreateObject("Quorvel.SiteManage")
folder = WScript.Arguments(0)
ini = folder & "\ServUDaemon.ini"
Set report = fso.CreateTextFile(WScript.Arguments(1), True, False)
failures = 0

Sub Fresh()
    fso.CopyFile folder & "\accounts.ini", ini, True
End Sub

Sub Expect(value, wanted)
    If value <> wanted Then failures = failures + 1
End Sub

' Milliseconds per call of a batch that took from `since` to now.
Sub Show(name, since, count)
    Dim elapsed
    elapsed = Timer - since
    If elapsed < 0 Then elapsed = elapsed + 86400
    report.WriteLine name & " " & FormatNumber(elapsed * 1000 / count, 2, True, False, False) & " ms per call (" & _
        count & " calls)"
End Sub

Fresh
started = Timer
For i = 1 To CALLS
    Expect site.PostFtpSit("ISUSER", "user500", folder), 0
Next
Show "ISUSER of account 500 at 997 accounts:", started, CALLS

' Each ADD lands on a list of 997 accounts: the one before is taken away
' again (untimed).
Fresh
Dim total: total = 0
For i = 1 To CALLS
    started = Timer
    Expect site.PostFtpSit("ADD", "newcomer" & i, folder, "secret", "D:\ftp\new", "D:\ftp\new|RWAMLCDP", 5, 500, 10, 64, 128), 0
    total = total + (Timer - started)
    Expect site.PostFtpSit("DEL", "newcomer" & i, folder), 0
Next
report.WriteLine "ADD at 997 accounts: " & FormatNumber(total * 1000 / CALLS, 2, True, False, False) & _
    " ms per call (" & CALLS & " calls)"

' DEL of the first account, on a fresh copy of the 997-account file each time.
total = 0
For i = 1 To CALLS
    Fresh
    started = Timer
    Expect site.PostFtpSit("DEL", "user1", folder), 0
    total = total + (Timer - started)
Next
report.WriteLine "DEL of the first account at 997 accounts: " & FormatNumber(total * 1000 / CALLS, 2, True, False, False) & _
    " ms per call (" & CALLS & " calls)"
report.WriteLine "unexpected results: " & failures
report.Close
