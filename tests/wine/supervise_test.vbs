' Supervise through CreateObject and IDispatch, fetching pages with WinINet
' from the local page server whose address test-windows.sh puts in
' QUORVEL_TEST_HTTP.

Const LABEL = "Supervise函数"
Const MISSING = "错误号：1，错误源：网页 ，错误描述：网页没有发生指定错误！"

Dim site, server
Set site = CreateObject("Quorvel.SiteManage")
' Wine's ExpandEnvironmentStrings leaves the terminating NUL on the text.
server = Replace(CreateObject("WScript.Shell").ExpandEnvironmentStrings("%QUORVEL_TEST_HTTP%"), Chr(0), "")

Sub Expect(url, sign, expected, what)
    MarkLog
    CheckEqual site.Supervise(url, sign), expected, what
    If expected = 1 Then
        CheckOneLogLine LABEL, MISSING, what
    Else
        CheckNoLogLine what
    End If
End Sub

Sub FoundAndMissing()
    Expect "http://" & server & "/found", "running", 0, "marker found without regard to case"
    Expect "http://" & server & "/found", "stopped", 1, "marker missing"
    Expect "http://" & server & "/error500", "DATABASE DOWN", 0, "an error page is searched"
    Expect "http://" & server & "/nothing-here", "database", 1, "a 404 page without the marker"
End Sub

Sub Schemes()
    Expect server & "/found", "RUNNING", 0, "no scheme: http:// is put in front"
    Expect "HTTP://" & server & "/found", "running", 0, "upper-case scheme used as it is"
    Expect "hTtP://" & server & "/found", "running", 0, "mixed-case scheme used as it is"
End Sub

Sub BlanksInTheAddress()
    ' Sent as %20, as the POSIX build sends them.
    Expect "http://" & server & "/echo/site status?name=a b", "path=/echo/site%20status?name=a%20b", 0, _
        "blanks in the address are sent encoded"
End Sub

Sub Unreachable()
    ' Port 1 on the loopback: nothing listens there.
    Expect "http://127.0.0.1:1/", "x", 1, "unreachable address is 1, not 4"
End Sub

Sub EmptyMarkerAndBodies()
    Expect "http://" & server & "/found", "", 0, "an empty marker in a page with text"
    Expect "http://" & server & "/empty", "", 1, "an empty marker in an empty page"
    Expect "http://" & server & "/empty", "x", 1, "a marker in an empty page"
End Sub

Sub ReadBoundaries()
    Expect "http://" & server & "/4096", "end", 0, "4096-byte body"
    Expect "http://" & server & "/8192", "end", 0, "8192-byte body"
    Expect "http://" & server & "/8192", "endx", 1, "8192-byte body without the marker"
    Expect "http://" & server & "/across", "warning", 0, "marker across byte 4096"
    Expect "http://" & server & "/gbk", "维护中", 0, "a double-byte character cut at byte 4096"
End Sub

Sub LargePages()
    Expect "http://" & server & "/big", "THE VERY END", 0, "8 MB page with the marker at its end"
    Expect "http://" & server & "/endless", "alive", 0, "an endless page: reading stops at the marker"
End Sub

BeginCase "found and missing": FoundAndMissing: EndCase
BeginCase "schemes": Schemes: EndCase
BeginCase "blanks in the address": BlanksInTheAddress: EndCase
BeginCase "unreachable": Unreachable: EndCase
BeginCase "empty marker and bodies": EmptyMarkerAndBodies: EndCase
BeginCase "read boundaries": ReadBoundaries: EndCase
BeginCase "large pages": LargePages: EndCase
Set site = Nothing
Finish
