' Page supervision through Quorvel.SiteManage, as a control-panel script runs
' it on Windows. Arguments: the folder of the registered quorvel.dll (its
' DllErr.log is there), the address (host:port) of the local page server and
' the file that receives the transcript, in the system code page.

Dim server
server = WScript.Arguments(1)

out.WriteLine "(the page http://" & server & "/found holds ""Service is RUNNING"")"
Show "Supervise(""http://" & server & "/found"", ""running"")", site.Supervise("http://" & server & "/found", "running")
MarkLog
Show "Supervise(""" & server & "/found"", ""stopped"")", site.Supervise(server & "/found", "stopped")
ShowLog
out.Close
