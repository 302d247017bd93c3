' PostWebSit through CreateObject and IDispatch, against the IIS directory
' provider registered in the prefix; the script reads the sites back itself
' with GetObject("IIS://localhost/W3SVC/N").

Const LABEL = "PostWebSit函数"
Const SITE_EXISTS = "错误号：2，错误源：Web站点 ，错误描述：站点已经存在"
Const NO_SUCH_SITE = "错误号：3，错误源：Web站点 ，错误描述：站点不存在"
Const UNSAFE_INPUT = "错误号：1，错误源：Web站点 ，错误描述：站点名或设置含有不允许的字符"
' The directory's E_INVALIDARG, as VBScript reports it.
Const INVALID_ARGUMENT = 5

Dim site, service
Set site = CreateObject("Quorvel.SiteManage")
Set service = GetObject("IIS://localhost/W3SVC")

' The prefix may keep sites of an earlier run: every name is new to this one.
Dim gRun: gRun = Replace(Replace(Replace(CStr(Now), "/", ""), ":", ""), " ", "") & "-" & Int(Rnd * 100000)
Function Named(name)
    Named = name & "-" & gRun
End Function

' The number of the site with that comment, 0 when none.
Function NumberOf(name)
    NumberOf = 0
    Dim child
    For Each child In service
        If LCase(child.Class) = "iiswebserver" Then
            If UCase(child.ServerComment) = UCase(name) Then
                NumberOf = CLng(child.Name)
                Exit Function
            End If
        End If
    Next
End Function

Function Add(name)
    Add = site.PostWebSit("ADD", name, "D:\web\" & name, "index.htm,default.asp", ".asp,C:\asp.dll,1,GET|.x,y", _
        ":80:" & name & "|:8080:", "RW", "D:\logs", 200, 900, 100, 50, "IUSR_WEB", "pw")
End Function

Sub AddCreatesTheSite()
    MarkLog
    Dim name: name = Named("alpha")
    CheckEqual Add(name), 0, "ADD result"
    CheckNoLogLine "ADD"
    Dim n: n = NumberOf(name)
    Check n > 0, "the new site is a child of W3SVC"
    Dim s: Set s = GetObject("IIS://localhost/W3SVC/" & n)
    CheckEqual s.ServerComment, name, "ServerComment"
    Dim b: b = s.ServerBindings
    CheckEqual UBound(b), 1, "two bindings"
    CheckEqual b(0), ":80:" & name, "first binding"
    CheckEqual b(1), ":8080:", "second binding"
    Dim maps: maps = s.Get("ScriptMaps")
    CheckEqual maps(1), ".x,y", "second script map"
    CheckEqual TypeName(s.MaxConnections), "Long", "MaxConnections is a Long"
    CheckEqual s.MaxConnections, 200, "MaxConnections"
    CheckEqual s.ConnectionTimeout, 900, "ConnectionTimeout"
    CheckEqual s.MaxBandwidth, 102400, "MaxBandwidth"
    CheckEqual s.CpuLimitLogEvent, 50000, "CpuLimitLogEvent"
    CheckEqual TypeName(s.CpuLimitsEnabled), "Boolean", "CpuLimitsEnabled is a Boolean"
    CheckEqual s.CpuLimitsEnabled, True, "CpuLimitsEnabled"
    CheckEqual s.AnonymousUserName, "IUSR_WEB", "AnonymousUserName"
    CheckEqual s.ServerState, 2, "started"
    Dim root: Set root = GetObject("IIS://localhost/W3SVC/" & n & "/ROOT")
    CheckEqual root.Path, "D:\web\" & name, "root Path"
    CheckEqual root.AccessRead, True, "AccessRead"
    CheckEqual root.AccessWrite, True, "AccessWrite"
    CheckEqual root.EnableDirBrowsing, False, "EnableDirBrowsing"
    CheckEqual root.AccessExecute, False, "AccessExecute"
    CheckEqual root.AppRoot, "/LM/W3SVC/" & n & "/root", "AppRoot"
    CheckEqual root.AppIsolated, 2, "AppIsolated"
    CheckEqual root.AppFriendlyName, "应用程序", "AppFriendlyName"

    MarkLog
    CheckEqual Add(UCase(name)), 2, "ADD of an existing name"
    CheckOneLogLine LABEL, SITE_EXISTS, "ADD of an existing name"
End Sub

Sub StopStartEditDelete()
    Dim name: name = Named("beta")
    CheckEqual Add(name), 0, "ADD"
    Dim n: n = NumberOf(name)
    MarkLog
    CheckEqual site.PostWebSit("stop", name), 0, "STOP"
    CheckEqual GetObject("IIS://localhost/W3SVC/" & n).ServerState, 4, "stopped"
    CheckEqual site.PostWebSit("Start", name), 0, "START"
    CheckEqual GetObject("IIS://localhost/W3SVC/" & n).ServerState, 2, "started again"
    CheckEqual site.PostWebSit("ISSEARCH", name), 0, "ISSEARCH finds it"
    CheckEqual site.PostWebSit("EDIT", name, "E:\new", "", "", "", "D", "", 5, 6, 7, 8), 0, "EDIT"
    Dim s: Set s = GetObject("IIS://localhost/W3SVC/" & n)
    CheckEqual s.MaxConnections, 5, "MaxConnections after EDIT"
    CheckEqual s.MaxBandwidth, 7168, "MaxBandwidth after EDIT"
    CheckEqual UBound(s.ServerBindings), -1, "no bindings after EDIT"
    Dim root: Set root = s.GetObject("IIsWebVirtualDir", "ROOT")
    CheckEqual root.Path, "E:\new", "Path after EDIT"
    CheckEqual root.EnableDirBrowsing, True, "browsing after EDIT"
    CheckEqual root.AccessRead, False, "no read after EDIT"
    CheckEqual site.PostWebSit("EDIT", name, "", "", "", "", "", "", 0, 0, 2097152, 0), 0, _
        "EDIT with an overflowing bandwidth"
    CheckNoLogLine "STOP, START, ISSEARCH, EDIT"
    CheckEqual site.PostWebSit("DEL", name), 0, "DEL"
    CheckEqual NumberOf(name), 0, "deleted"
    On Error Resume Next
    ' Asked of the container itself: Wine's moniker parser reports any failure
    ' of a provider as MK_E_SYNTAX, where Windows passes the provider's error on.
    Dim gone: Set gone = GetObject("IIS://localhost/W3SVC").GetObject("IIsWebServer", CStr(n))
    CheckEqual Err.Number, &H80070003, "the site and its root went"
    Err.Clear
    On Error GoTo 0
End Sub

Sub MissingSite()
    Dim name: name = Named("nowhere")
    Dim action
    For Each action In Array("EDIT", "DEL", "START", "STOP", "ISSEARCH")
        MarkLog
        CheckEqual site.PostWebSit(action, name), 3, action & " of a missing site"
        CheckOneLogLine LABEL, NO_SUCH_SITE, action & " of a missing site"
    Next
    MarkLog
    CheckEqual site.PostWebSit(" ADD", name), 0, "an action with a blank does nothing"
    CheckEqual NumberOf(name), 0, "nothing made"
    CheckNoLogLine "unknown action"
End Sub

Sub OverflowOnAdd()
    Dim name: name = Named("wide")
    MarkLog
    CheckEqual site.PostWebSit("ADD", name, "D:\w", "", "", "", "R", "", 1, 1, 2097152, 1), 4, "ADD with overflow"
    Dim lines: lines = NewLogLines()
    CheckEqual UBound(lines), 0, "one log line"
    If UBound(lines) = 0 Then Check InStr(lines(0), "错误号：6，") > 0, "the overflow is logged: " & lines(0)
    Dim n: n = NumberOf(name)
    Check n > 0, "the site was made"
    Dim s: Set s = GetObject("IIS://localhost/W3SVC/" & n)
    CheckEqual s.CpuLimitLogEvent, 1000, "the other product was written"
    On Error Resume Next
    Dim width: width = s.MaxBandwidth
    CheckEqual Err.Number, &H8000500D, "MaxBandwidth was not written"
    Err.Clear
    On Error GoTo 0
    CheckEqual site.PostWebSit("DEL", name), 0, "DEL"
End Sub

' The metabase keeps Unicode, outside the code page too; only an unpaired
' surrogate, which it cannot keep, is refused, by the method and the directory.
Sub UnpairedSurrogates()
    CheckEqual Len(Units("61 D800")), 2, "the script's text holds the units given"
    Dim emoji: emoji = Named("a" & Units("D83D DE00"))
    MarkLog
    CheckEqual Add(emoji), 0, "a name outside the code page"
    Dim n: n = NumberOf(emoji)
    Check n > 0, "found by that name"
    CheckNoLogLine "a name outside the code page"
    Dim lone: lone = Named("b") & Units("D800")
    MarkLog
    CheckEqual Add(lone), 1, "a name with a lone surrogate"
    CheckOneLogLine LABEL, UNSAFE_INPUT, "a name with a lone surrogate"
    CheckEqual NumberOf(lone), 0, "nothing made"
    On Error Resume Next
    Dim made: Set made = service.Create("IIsWebServer", "x" & Units("DC00"))
    CheckEqual Err.Number, INVALID_ARGUMENT, "Create refuses a lone surrogate"
    Err.Clear
    Dim s: Set s = GetObject("IIS://localhost/W3SVC/" & n)
    s.Put "ServerComment", lone
    CheckEqual Err.Number, INVALID_ARGUMENT, "Put refuses a lone surrogate"
    Err.Clear
    On Error GoTo 0
    CheckEqual site.PostWebSit("DEL", emoji), 0, "DEL"
End Sub

' The anonymous user's password reads back as written and is nowhere in
' the metabase file in clear.
Sub SecretsSealedAtRest()
    Dim name: name = Named("sealed")
    CheckEqual site.PostWebSit("ADD", name, "D:\web\" & name, "", "", ":80:" & name, "R", "D:\logs", 1, 1, 1, 1, _
        "IUSR_SEALED", "Sesame-4711"), 0, "ADD"
    CheckEqual GetObject("IIS://localhost/W3SVC/" & NumberOf(name)).AnonymousUserPass, "Sesame-4711", "read back"
    Dim store: store = Replace(CreateObject("WScript.Shell").ExpandEnvironmentStrings("%ProgramData%"), Chr(0), "") _
        & "\Quorvel\IIS\metabase.txt"
    Dim text: text = ReadAnsi(store)
    Check InStr(text, "IUSR_SEALED") > 0, "the store is " & store
    CheckEqual InStr(text, "Sesame-4711"), 0, "no password in clear in the store"
End Sub

BeginCase "ADD": AddCreatesTheSite: EndCase
BeginCase "secrets sealed at rest": SecretsSealedAtRest: EndCase
BeginCase "STOP, START, EDIT, DEL": StopStartEditDelete: EndCase
BeginCase "missing site": MissingSite: EndCase
BeginCase "overflow on ADD": OverflowOnAdd: EndCase
BeginCase "unpaired surrogates": UnpairedSurrogates: EndCase
Set service = Nothing
Set site = Nothing
Finish
