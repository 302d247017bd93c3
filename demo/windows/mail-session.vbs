' A mail session through Quorvel.SiteManage: a domain, a mailbox added,
' edited and deleted, its password's stored form from the webmail server
' (the POSIX build's stand-in, reached on 127.0.0.1). Arguments: the folder of
' the registered quorvel.dll, the mail server's folder and the file that
' receives the transcript (in the system code page).

Dim mailDir
mailDir = WScript.Arguments(1)

Sub ShowFile(title, path, marker)
    Dim text: text = ReadAnsi(path)
    If Right(text, 2) = vbCrLf Then text = Left(text, Len(text) - 2)
    out.WriteLine "  " & title & ":"
    out.WriteLine "    " & marker & Replace(text, vbCrLf, marker & vbCrLf & "    " & marker) & marker
End Sub

Sub Records()
    ShowFile "USERLIST.DAT", mailDir & "\App\USERLIST.DAT", "|"
End Sub

Show "PostEmailDomain(""ADD"", mailDir, ""example.com"", ""192.168.1.10"", True, 30, 60, 7, True)", _
    site.PostEmailDomain("ADD", mailDir, "example.com", "192.168.1.10", True, 30, 60, 7, True)
ShowFile "Domains.dat", mailDir & "\App\Domains.dat", ""

Show "GetMailPass(""127.0.0.1"", mailDir, ""secret"")", "[" & site.GetMailPass("127.0.0.1", mailDir, "secret") & "]"

Show "PostEmail(""ADD"", mailDir, ""example.com"", ""info"", ""127.0.0.1"", ""张三"", ""secret"", 50, 10240)", _
    site.PostEmail("ADD", mailDir, "example.com", "info", "127.0.0.1", "张三", "secret", 50, 10240)
Records

Show "PostEmail(""EDIT"", mailDir, ""example.com"", ""info"", ""127.0.0.1"", ""Li Si"", ""n3w&pass"", 100, 20480)", _
    site.PostEmail("EDIT", mailDir, "example.com", "info", "127.0.0.1", "Li Si", "n3w&pass", 100, 20480)
Records

MarkLog
Show "PostEmail(""ADD"", mailDir, ""example.com"", ""info"", ""127.0.0.1"")   ' info exists", _
    site.PostEmail("ADD", mailDir, "example.com", "info", "127.0.0.1")
ShowLog

Show "PostEmail(""DEL"", mailDir, ""example.com"", ""info"", ""127.0.0.1"")", _
    site.PostEmail("DEL", mailDir, "example.com", "info", "127.0.0.1")
Records

Show "PostEmailDomain(""DEL"", mailDir, ""example.com"")", site.PostEmailDomain("DEL", mailDir, "example.com")
out.Close
