' quorvel-doctor.exe of the package (beside the registered quorvel.dll), on
' this prefix with the stand-ins: faults planted in the servers' files, the
' directories and the component's folder are found, --repair puts right
' those with one sound fix, and the methods and the doctor accept what it
' leaves. Each run's JSON document stays in the work folder (the runner
' parses every *.json there).
On Error Resume Next

Dim site, shell, gRun
Set site = CreateObject("Quorvel.SiteManage")
Set shell = CreateObject("WScript.Shell")
gRun = 0

Const SOUND = 0
Const FINDINGS = 1
Const REPAIRED = 2

' Runs the doctor with its JSON document written to the work folder; the
' document's text goes to gJson, the exit status is the result.
Dim gJson
Function Doctor(args)
    gRun = gRun + 1
    Dim out: out = gWorkFolder & "\run" & gRun & ".json"
    Doctor = shell.Run("cmd /c """"" & gDllFolder & "\quorvel-doctor.exe"" --json " & args & " > """ & out & """""", 0, True)
    gJson = ReadAnsi(out)
End Function

Function Has(text)
    Has = InStr(gJson, text) > 0
End Function

Function Section(name)
    Section = Lines(Array("[USER=" & name & "|1]", "Password=vk5D44A032652974C3E53644945A95B126", _
        "HomeDir=D:\ftp\" & name, "Access1=D:\ftp\" & name & "|RL"))
End Function

Sub FtpAccounts()
    Dim ftp: ftp = NewFolder("Serv-U")
    Dim ini: ini = ftp & "\ServUDaemon.ini"
    WriteAnsi ini, Lines(Array("[DOMAINS]", "Domain1=0.0.0.0||21|Example|1|0", "[Domain1]", "User1=alice|1|0", _
        "User3=bob|1|0", "User4=ghost|1|0", "User5=alice|1|0")) & Section("alice") & Section("bob") & _
        Lines(Array("[USER=old|1]", "Access2=C:\|RWAMLCDP"))
    ' A copy a profile write left: its name does not say its writer.
    WriteAnsi ini & ".quorvel-tmp", "half"
    Dim args: args = "--ftp """ & ftp & """"
    CheckEqual Doctor(args), FINDINGS, "faults found"
    Check Has("""kind"":""ftp.list-gap"",") And Has("""line"":5,"), "the gap, on its line: " & gJson
    Check Has("ftp.missing-section") And Has("ftp.duplicate-name") And Has("ftp.orphan-section"), _
        "the missing section, the second entry, the orphan section: " & gJson
    Check Has("leftover.temporary-file") And Has("ServUDaemon.ini.quorvel-tmp"), "the copy: " & gJson
    CheckEqual site.PostFtpSit("ISUSER", "bob", ftp), 3, "the gap hides bob"
    CheckEqual Doctor("--repair " & args), REPAIRED, "repaired"
    Check Not Has("""repaired"":false"), "all repaired: " & gJson
    Check Not gFso.FileExists(ini & ".quorvel-tmp"), "the copy is deleted"
    CheckEqual Doctor(args), SOUND, "sound afterwards: " & gJson
    CheckEqual site.PostFtpSit("ISUSER", "bob", ftp), 0, "bob is found"
    CheckEqual site.PostFtpSit("ADD", "old", ftp, "pw", "D:\ftp\old", "D:\ftp\old|RL"), 0, "ADD of the orphan's name"
    CheckEqual IniValue(ReadAnsi(ini), "USER=old|1", "Access2"), "<missing>", "the old section's rights are gone"
End Sub

Sub MailFiles()
    Dim mail: mail = NewFolder("MDaemon")
    gFso.CreateFolder mail & "\App"
    gFso.CreateFolder mail & "\WorldClient"
    Dim record: record = Left("example.com" & Space(45), 45) & Left("info" & Space(30), 30) & Space(30) & Space(90) _
        & "7F3A09C1D2B4E5F60718NNYYYNNYNN0010000100"
    Dim temporary: temporary = Left("example.com" & Space(45), 45) & Left("Quorvel" & Space(30), 30) _
        & Left("Quorvel" & Space(30), 30) & Space(90) & "7F3A09C1D2B4E5F60718NNYYYNNYNN0010000100"
    WriteAnsi mail & "\App\USERLIST.DAT", Lines(Array(record, "", temporary))
    WriteAnsi mail & "\App\Domains.dat", Lines(Array("[example.com]", "IP=1.2.3.4", "Bind=No", "MaxInactive=0", _
        "MaxMessageAge=0", "MaxDeletedIMAPMessageAge=0", "RecurseIMAP=No"))
    WriteAnsi mail & "\WorldClient\Domains.ini", Lines(Array("[Default:Settings]", "NewAccountCreation=Yes", "Port=1"))
    Dim args: args = "--mail """ & mail & """"
    CheckEqual Doctor(args), FINDINGS, "mail faults found"
    Check Has("mail.record-width") And Has("mail.temporary-record") And Has("mail.creation-left-on"), _
        "the empty line, the temporary account, the switch: " & gJson
    CheckEqual Doctor("--repair " & args), REPAIRED, "repaired"
    CheckEqual ReadAnsi(mail & "\App\USERLIST.DAT"), record & vbCrLf, "one record left"
    CheckEqual IniValue(ReadAnsi(mail & "\WorldClient\Domains.ini"), "Default:Settings", "NewAccountCreation"), _
        "No", "the switch is off"
    CheckEqual Doctor(args), SOUND, "sound afterwards: " & gJson
End Sub

Sub Sites()
    Dim service: Set service = GetObject("IIS://localhost/W3SVC")
    Dim far: Set far = service.Create("IIsWebServer", 9000)
    far.ServerComment = "doctor-far"
    far.SetInfo
    CheckEqual Doctor("--sites"), FINDINGS, "a site past the count"
    Check Has("web.unreachable-site") And Has("/W3SVC/9000"), "site 9000 cannot be reached: " & gJson
    Check Has("""repair"":null"), "reported only: " & gJson
    service.Delete "IIsWebServer", 9000
    Doctor "--sites"
    Check Not Has("/W3SVC/9000"), "gone with the site"
End Sub

Sub Accounts()
    ' A membership whose account is gone, as the store may keep one.
    Dim store: store = gDllFolder & "\winnt-accounts.txt"
    If Not gFso.FileExists(store) Then
        site.PostNTUser "ADDUSER", "", "qdoc_seed", "Secret-1", "Users"
        site.PostNTUser "DELUSER", "", "qdoc_seed", "", ""
    End If
    Dim f: Set f = gFso.OpenTextFile(store, 8, True, 0)
    f.Write "member" & vbTab & "Administrators" & vbTab & "qdoc_ghost" & vbCrLf
    f.Close
    CheckEqual Doctor("--accounts"), FINDINGS, "the membership found"
    Check Has("accounts.dangling-member") And Has("qdoc_ghost"), "the membership: " & gJson
    CheckEqual Doctor("--accounts --repair"), REPAIRED, "repaired"
    CheckEqual Doctor("--accounts"), SOUND, "sound afterwards: " & gJson
    CheckEqual site.PostNTUser("ADDUSER", "", "qdoc_ghost", "Secret-1", "Users"), 0, "a new account of that name"
    Check Not IsMember("Administrators", "qdoc_ghost"), "takes no grant of the old one"
    site.PostNTUser "DELUSER", "", "qdoc_ghost", "", ""
End Sub

' A call killed after it made its account leaves its intent record; the
' doctor's repair runs the method's own, through the component.
Sub InterruptedCall()
    Dim child: child = gWorkFolder & "\child.vbs"
    WriteAnsi child, Lines(Array("Dim s: Set s = CreateObject(""Quorvel.SiteManage"")", _
        "s.PostNTUser ""ADDUSER"", ""Killed"", ""qdoc_killed"", ""Secret-1"", ""Users"""))
    Dim n, made
    For n = 6 To 20
        shell.Run "cmd /c set QUORVEL_TEST_CRASH_AFTER_STEP=" & n & "&& cscript //nologo """ & child & """", 0, True
        made = gFso.FileExists(gDllFolder & "\PostNTUser.intent")
        If made Then made = AccountExists("qdoc_killed")
        If made Then Exit For
        site.PostNTUser "DELUSER", "", "qdoc_killed", "", ""
    Next
    Check made, "a killed ADDUSER left its account and its record"
    CheckEqual Doctor("--accounts"), FINDINGS, "the record found"
    Check Has("leftover.intent") And Has("ADDUSER qdoc_killed"), "the record: " & gJson
    CheckEqual Doctor("--accounts --repair"), REPAIRED, "repaired: " & gJson
    Check Not gFso.FileExists(gDllFolder & "\PostNTUser.intent"), "the record is gone"
    Check Not AccountExists("qdoc_killed"), "the ADDUSER is undone"
    CheckEqual Doctor("--accounts"), SOUND, "sound afterwards: " & gJson
End Sub

Function AccountExists(name)
    On Error Resume Next
    Dim user
    Err.Clear
    Set user = Account(name)
    AccountExists = (Err.Number = 0)
    Err.Clear
End Function

' Fields separated by TAB (Wine's VBScript has no Join).
Function Tabbed(parts)
    Dim i: Tabbed = parts(0)
    For i = 1 To UBound(parts)
        Tabbed = Tabbed & vbTab & parts(i)
    Next
End Function

' The servers' files held to the component's audit trail beside it: a key
' that is not what the last recorded change made it is an outside edit, and
' the doctor's own repair goes on the trail under the Windows account.
Sub AuditTrail()
    Dim ftp: ftp = NewFolder("Serv-U-trail")
    Dim ini: ini = ftp & "\ServUDaemon.ini"
    Dim trailFile: trailFile = gDllFolder & "\DllAudit.log"
    WriteAnsi trailFile, Tabbed(Array("2026/12/7", "5:04:09", "PostFtpSit", "EDIT", "alice", "0", "4711", _
        "WEBHOST01\web", ini, "[USER=alice|1]HomeDir", "D:\ftp\a", "D:\ftp\a2")) & vbCrLf
    WriteAnsi ini, Lines(Array("[DOMAINS]", "Domain1=0.0.0.0||21|Example|1|0", "[Domain1]", "User1=alice|1|0", _
        "User3=bob|1|0")) & Section("alice") & Section("bob")
    Dim args: args = "--ftp """ & ftp & """"
    CheckEqual Doctor(args), FINDINGS, "found"
    Check Has("audit.outside-edit") And Has("PostFtpSit EDIT alice"), "the hand-made HomeDir: " & gJson
    CheckEqual Doctor("--repair " & args), FINDINGS, "the gap repaired, the outside edit left: " & gJson
    Dim written: written = Split(ReadAnsi(trailFile), vbCrLf)
    CheckEqual UBound(written), 2, "one line added, whole"
    Dim fields: fields = Split(written(1), vbTab)
    CheckEqual fields(2) & " " & fields(3) & " " & fields(4) & " " & fields(5), "Doctor REPAIR " & ini & " 0", _
        "the repair's line: " & written(1)
    Check InStr(fields(7), "\") > 1, "DOMAIN\name of the account: " & fields(7)
    Check InStr(written(1), ini & vbTab & "[Domain1]User2" & vbTab & "-" & vbTab & "bob|1|0") > 0, _
        "bob's entry moved into the gap: " & written(1)
    CheckEqual Doctor(args), FINDINGS, "only the outside edit is left: " & gJson
    Check Not Has("list-gap"), "the repair is explained by its line: " & gJson
    gFso.DeleteFile trailFile
End Sub

Sub Usage()
    CheckEqual shell.Run("""" & gDllFolder & "\quorvel-doctor.exe"" --bogus", 0, True), 64, "a usage error"
    CheckEqual Doctor("--ftp """ & gWorkFolder & "\nowhere"""), 69, "a folder without the file"
End Sub

BeginCase "FTP accounts": FtpAccounts: EndCase
BeginCase "mail files": MailFiles: EndCase
BeginCase "web sites": Sites: EndCase
BeginCase "groups": Accounts: EndCase
BeginCase "an interrupted call": InterruptedCall: EndCase
BeginCase "the audit trail": AuditTrail: EndCase
BeginCase "usage": Usage: EndCase
Set site = Nothing
Finish
