' A Windows account's life through Quorvel.SiteManage, read back through
' GetObject("WinNT://..."), as a control-panel script would. Arguments: the
' folder of the registered quorvel.dll and the transcript file (system code page).
Option Explicit

Dim site, computer, out
Set site = CreateObject("Quorvel.SiteManage")
computer = Replace(CreateObject("WScript.Shell").ExpandEnvironmentStrings("%COMPUTERNAME%"), Chr(0), "")
Set out = CreateObject("Scripting.FileSystemObject").CreateTextFile(WScript.Arguments(1), True, False)

Sub Show()
    Dim user: Set user = GetObject("WinNT://" & computer).GetObject("user", "web_zhang")
    Dim guests: Set guests = GetObject("WinNT://" & computer).GetObject("group", "Guests")
    out.WriteLine "    FullName=" & user.FullName & "  UserFlags=&H" & Hex(user.Get("UserFlags")) & _
        "  AccountDisabled=" & CStr(user.AccountDisabled) & _
        "  in Guests=" & CStr(guests.IsMember("WinNT://" & computer & "/web_zhang"))
End Sub

Sub Run(action, group)
    out.WriteLine "> site.PostNTUser(""" & action & """, ""张三"", ""web_zhang"", ""Secret-1"", """ & group & """) = " & _
        site.PostNTUser(action, "张三", "web_zhang", "Secret-1", group)
End Sub

Run "ADDUSER", "Users": Show
Run "ADDUSERTOGROUP", "Guests": Show
Run "STOPUSER", "": Show
Run "STARTUSER", "": Show
Run "DELUSER", ""
On Error Resume Next
Dim gone: Set gone = GetObject("WinNT://" & computer).GetObject("user", "web_zhang")
out.WriteLine "    GetObject of the deleted account: error &H" & Hex(Err.Number)
out.Close
