' Calls ended abruptly after each of their steps (the component's test hook,
' QUORVEL_TEST_CRASH_AFTER_STEP, in a child cscript), then the next call: it
' repairs first, with one log line, and the accounts and files are as if the
' killed call had not run or had finished, with its own values.

Const REPAIRED = "错误号：5，"
Const KILLED = 137

Dim site, shell
Set site = CreateObject("Quorvel.SiteManage")
Set shell = CreateObject("WScript.Shell")

' The child: one call, named by its first argument.
Dim gChild: gChild = gWorkFolder & "\child.vbs"
WriteAnsi gChild, Lines(Array( _
    "Dim s: Set s = CreateObject(""Quorvel.SiteManage"")", _
    "Dim a: Set a = WScript.Arguments", _
    "If a(0) = ""ADDUSER"" Then s.PostNTUser ""ADDUSER"", ""Killed"", a(1), ""Secret-1"", ""Administrators""", _
    "If a(0) = ""RESTORE"" Then s.BackupSit ""RESTORE"", 2, ""b"", a(1), a(2)"))

' The child's exit code: 137 when the hook ended it after step n.
Function RunChild(n, args)
    RunChild = shell.Run("cmd /c set QUORVEL_TEST_CRASH_AFTER_STEP=" & n & "&& cscript //nologo """ & gChild & """ " _
        & args, 0, True)
End Function

Function RepairLines()
    Dim logged, i: logged = NewLogLines()
    RepairLines = 0
    For i = 0 To UBound(logged)
        If InStr(logged(i), REPAIRED) > 0 Then RepairLines = RepairLines + 1
    Next
End Function

Function PasswordIs(name, password)
    On Error Resume Next
    Account(name).ChangePassword password, password
    PasswordIs = (Err.Number = 0)
    Err.Clear
End Function

Sub AddUserKilledAtEachStep()
    Dim n, name, rc, result, user, left
    For n = 1 To 60
        name = "qkill" & n
        rc = RunChild(n, "ADDUSER " & name)
        If rc <> KILLED Then
            CheckEqual rc, 0, "the last child ran to its end"
            Exit For
        End If
        left = gFso.FileExists(gDllFolder & "\PostNTUser.intent")
        MarkLog
        result = site.PostNTUser("ADDUSER", "Next", name, "Secret-2", "Users")
        Check Not gFso.FileExists(gDllFolder & "\PostNTUser.intent"), "no record left after step " & n
        CheckEqual RepairLines(), Abs(CInt(left)), "one repair line for a record left (step " & n & ")"
        Set user = Account(name)
        If result = 0 Then
            CheckEqual user.FullName, "Next", "undone, then made by the next call alone (step " & n & ")"
            Check PasswordIs(name, "Secret-2"), "the next call's password (step " & n & ")"
            Check IsMember("Users", name) And Not IsMember("Administrators", name), "the next call's group only (step " & n & ")"
        Else
            CheckEqual result, 2, "killed after its last step: finished (step " & n & ")"
            CheckEqual user.FullName, "Killed", "the killed call's own values (step " & n & ")"
            Check PasswordIs(name, "Secret-1"), "the killed call's password (step " & n & ")"
            Check IsMember("Administrators", name) And Not IsMember("Users", name), "the killed call's group only (step " & n & ")"
        End If
        site.PostNTUser "DELUSER", "", name, "", ""
    Next
    Check n > 15, "the hook reached every step of ADDUSER (" & n & ")"
End Sub

Sub RestoreKilledAtEachStep()
    Dim mdaemon, bak, n, rc, users, domains, left, whole
    mdaemon = NewFolder("MDaemon")
    gFso.CreateFolder mdaemon & "\App"
    bak = NewFolder("bak")
    For n = 1 To 20
        WriteAnsi mdaemon & "\App\UserList.dat", "users-old"
        WriteAnsi mdaemon & "\App\Domains.dat", "domains-old"
        WriteAnsi bak & "\2_U_b.bak", "users-bak"
        WriteAnsi bak & "\2_D_b.bak", "domains-bak"
        rc = RunChild(n, "RESTORE """ & mdaemon & """ """ & bak & """")
        If rc <> KILLED Then Exit For
        left = gFso.FileExists(gDllFolder & "\BackupSit.intent")
        MarkLog
        CheckEqual site.BackupSit("none", 2, "b", mdaemon, bak), 0, "the next call (step " & n & ")"
        CheckEqual RepairLines(), Abs(CInt(left)), "one repair line for a record left (step " & n & ")"
        users = ReadAnsi(mdaemon & "\App\UserList.dat")
        domains = ReadAnsi(mdaemon & "\App\Domains.dat")
        whole = (users = "users-old" And domains = "domains-old") Or (users = "users-bak" And domains = "domains-bak")
        Check whole, "both files restored or neither after step " & n & ": " & users & " / " & domains
    Next
    Check n > 3, "the hook reached every step of RESTORE (" & n & ")"
End Sub

BeginCase "ADDUSER killed at each step": AddUserKilledAtEachStep: EndCase
BeginCase "RESTORE killed at each step": RestoreKilledAtEachStep: EndCase
Set site = Nothing
Finish
