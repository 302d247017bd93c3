' ExitWindows through CreateObject. Only words that request nothing are
' called: a real request would end the Wine session running the tests.

Dim site
Set site = CreateObject("Quorvel.SiteManage")

Sub PrivilegeOnly()
    MarkLog
    CheckEqual site.ExitWindows("PRIVILEGE"), 0, "another word enables the privilege only"
    CheckEqual site.ExitWindows(""), 0, "an empty word"
    CheckEqual site.ExitWindows(" reboot"), 0, "a word with a blank matches nothing"
    CheckNoLogLine "words that request nothing"
End Sub

BeginCase "privilege only": PrivilegeOnly: EndCase
Set site = Nothing
Finish
