' One call, as a control panel page makes it: the component is created, asked
' whether an account exists, and released when the script ends. Timed as a
' whole process against empty.vbs (scripts/bench-windows.sh).
'
' Argument: the folder holding ServUDaemon.ini.
Option Explicit

Dim site
Set site = CreateObject("Quorvel.SiteManage")
If site.PostFtpSit("ISUSER", "user500", WScript.Arguments(0)) <> 0 Then WScript.Quit 1
