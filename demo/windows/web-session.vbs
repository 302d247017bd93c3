' A web site's life through Quorvel.SiteManage, with the site read back from
' the IIS directory by the script itself. Arguments: the folder of the
' registered quorvel.dll (its DllErr.log is there) and the file that receives
' the transcript (in the system code page: Wine's cscript overruns its buffer
' when it echoes double-byte text).

' The number of the site with that comment, 0 when none.
Function NumberOf(name)
    NumberOf = 0
    Dim child
    For Each child In GetObject("IIS://localhost/W3SVC")
        If LCase(child.Class) = "iiswebserver" Then
            If UCase(child.ServerComment) = UCase(name) Then NumberOf = CLng(child.Name): Exit Function
        End If
    Next
End Function

Function Shown(value)
    If IsArray(value) Then
        ' Item by item: Wine's Join refuses the arrays a directory returns.
        Dim item, text: text = ""
        For Each item In value
            If text <> "" Then text = text & ", "
            text = text & item
        Next
        Shown = "(" & text & ")"
    Else
        Shown = CStr(value)
    End If
End Function

Sub Properties(path, names)
    Dim o, name: Set o = GetObject(path)
    out.WriteLine "  " & path
    For Each name In names
        out.WriteLine "    " & name & " = " & Shown(o.Get(name))
    Next
End Sub

Dim n
Show "PostWebSit(""ADD"", ""shop.example"", ""D:\web\shop"", ""index.htm"", "".asp,asp.dll,1,GET"", " & _
    """:80:shop.example|:80:www.shop.example"", ""RW"", ""D:\logs\shop"", 100, 900, 1024, 50, ""IUSR_SHOP"", ""secret"")", _
    site.PostWebSit("ADD", "shop.example", "D:\web\shop", "index.htm", ".asp,asp.dll,1,GET", _
        ":80:shop.example|:80:www.shop.example", "RW", "D:\logs\shop", 100, 900, 1024, 50, "IUSR_SHOP", "secret")
n = NumberOf("shop.example")
Properties "IIS://localhost/W3SVC/" & n, Array("ServerComment", "ServerBindings", "MaxBandwidth", _
    "CpuLimitLogEvent", "CpuLimitsEnabled", "ServerState")
Properties "IIS://localhost/W3SVC/" & n & "/ROOT", Array("Path", "AccessRead", "AccessWrite", "AppRoot", _
    "AppIsolated", "AppFriendlyName")
Show "PostWebSit(""STOP"", ""shop.example"")", site.PostWebSit("STOP", "shop.example")
Properties "IIS://localhost/W3SVC/" & n, Array("ServerState")
Show "PostWebSit(""START"", ""shop.example"")", site.PostWebSit("START", "shop.example")
Properties "IIS://localhost/W3SVC/" & n, Array("ServerState")
Show "PostWebSit(""EDIT"", ""shop.example"", ""D:\web\shop2"", ..., 50, 600, 2048, 20, ...)", _
    site.PostWebSit("EDIT", "shop.example", "D:\web\shop2", "default.htm", "", ":80:shop.example", "R", _
        "D:\logs\shop", 50, 600, 2048, 20, "IUSR_SHOP", "secret")
Properties "IIS://localhost/W3SVC/" & n, Array("MaxConnections", "ServerBindings")
Properties "IIS://localhost/W3SVC/" & n & "/ROOT", Array("Path", "AccessWrite")
MarkLog
Show "PostWebSit(""ADD"", ""SHOP.EXAMPLE"")", site.PostWebSit("ADD", "SHOP.EXAMPLE")
ShowLog
Show "PostWebSit(""DEL"", ""shop.example"")", site.PostWebSit("DEL", "shop.example")
MarkLog
Show "PostWebSit(""ISSEARCH"", ""shop.example"")", site.PostWebSit("ISSEARCH", "shop.example")
ShowLog
Set site = Nothing
out.Close
