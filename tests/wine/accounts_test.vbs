' PostNTUser through CreateObject, with the WinNT stand-in registered in
' the prefix; accounts are read back through GetObject("WinNT://...").

Const LABEL = "PostNTUser函数"
Const USER_EXISTS = "错误号：2，错误源：Windows用户 ，错误描述：用户已经存在"
Const NO_SUCH_USER = "错误号：3，错误源：Windows用户 ，错误描述：用户不存在"
Const NO_SUCH_USER_OR_GROUP = "错误号：3，错误源：Windows用户 ，错误描述：用户或组不存在"
Const UNSAFE_INPUT = "错误号：1，错误源：Windows用户 ，错误描述：用户名、全名、密码或组名含有不允许的字符"

Dim site, computer
Set site = CreateObject("Quorvel.SiteManage")
computer = gComputer

Sub AccountLife()
    MarkLog
    CheckEqual site.PostNTUser("ADDUSER", "张三", "qzhang", "Secret-1", "Users"), 0, "ADDUSER"
    CheckNoLogLine "ADDUSER"
    Dim user: Set user = Account("qzhang")
    CheckEqual user.FullName, "张三", "full name"
    CheckEqual user.Description, "张三", "description"
    CheckEqual user.Get("UserFlags"), &H201 Xor &H10000 Xor &H40, "flags of a new account"
    Check Not user.AccountDisabled, "enabled"
    Check IsMember("Users", "qzhang"), "member of Users"
    MarkLog
    CheckEqual site.PostNTUser("adduser", "x", "QZHANG", "Other-22", "Guests"), 2, "ADDUSER of an existing account"
    CheckOneLogLine LABEL, USER_EXISTS, "ADDUSER of an existing account"
    CheckEqual site.PostNTUser("STOPUSER", "", "qzhang", "", ""), 0, "STOPUSER"
    Check Account("qzhang").AccountDisabled, "disabled"
    CheckEqual site.PostNTUser("EditUser", "Zhang San", "qzhang", "Secret-2", ""), 0, "EDITUSER"
    Set user = Account("qzhang")
    CheckEqual user.Get("UserFlags"), &H201, "EDITUSER toggles the two bits back"
    Check Not user.AccountDisabled, "EDITUSER enables"
    CheckEqual user.Description, "Zhang San", "EDITUSER replaces the description"
    CheckEqual site.PostNTUser("ADDUSERTOGROUP", "", "qzhang", "", "Guests"), 0, "ADDUSERTOGROUP"
    Check IsMember("Guests", "qzhang"), "member of Guests"
    MarkLog
    CheckEqual site.PostNTUser("ADDUSERTOGROUP", "", "qzhang", "", "Guests"), 4, "ADDUSERTOGROUP twice"
    CheckEqual UBound(NewLogLines()) + 1, 1, "one line for the directory's error"
    CheckEqual site.PostNTUser("DELUSERTOGROUP", "", "qzhang", "", "Guests"), 0, "DELUSERTOGROUP"
    Check Not IsMember("Guests", "qzhang"), "no longer in Guests"
    MarkLog
    CheckEqual site.PostNTUser("ADDUSERTOGROUP", "", "qzhang", "", "Users,Guests"), 3, "two groups are one name"
    CheckOneLogLine LABEL, NO_SUCH_USER_OR_GROUP, "two groups"
    CheckEqual site.PostNTUser("DELUSER", "", "qzhang", "", ""), 0, "DELUSER"
    On Error Resume Next
    Dim gone: Set gone = Account("qzhang")
    CheckEqual Hex(Err.Number), "800708AD", "the account is gone"
    Err.Clear
    MarkLog
    CheckEqual site.PostNTUser("STARTUSER", "", "qzhang", "", ""), 3, "STARTUSER of a missing account"
    CheckOneLogLine LABEL, NO_SUCH_USER, "missing account"
End Sub

' A name or password the code page cannot hold is refused before the directory is touched.
Sub OutsideTheCodePage()
    Dim bad, i
    bad = Array(Array("Full", "q" & Units("E4"), "Secret-1"), Array("Full", "qlee", "S" & Units("D83D DE00")), _
        Array(Units("D55C"), "qlee", "Secret-1"))
    For i = 0 To UBound(bad)
        MarkLog
        CheckEqual site.PostNTUser("ADDUSER", bad(i)(0), bad(i)(1), bad(i)(2), "Users"), 1, "refused " & i
        CheckOneLogLine LABEL, UNSAFE_INPUT, "refused " & i
    Next
    On Error Resume Next
    Dim none: Set none = Account("qlee")
    CheckEqual Hex(Err.Number), "800708AD", "no account was made"
    Err.Clear
End Sub

' A group made and not yet stored, or deleted after it was bound, takes no
' member: the directory's group-not-found error, not a crash.
Sub GoneGroupTakesNoMember()
    CheckEqual site.PostNTUser("ADDUSER", "Erin", "qerin", "Secret-1", ""), 0, "ADDUSER"
    Dim container: Set container = GetObject("WinNT://" & computer)
    Dim unsaved: Set unsaved = container.Create("group", "qstaff")
    On Error Resume Next
    unsaved.Add "WinNT://" & computer & "/qerin"
    CheckEqual Hex(Err.Number), "800708AC", "Add to a group not yet stored"
    Err.Clear
    On Error GoTo 0
    unsaved.SetInfo
    Dim bound: Set bound = GetObject("WinNT://" & computer & "/qstaff,group")
    container.Delete "group", "qstaff"
    On Error Resume Next
    bound.Add "WinNT://" & computer & "/qerin"
    CheckEqual Hex(Err.Number), "800708AC", "Add to a deleted group"
    Err.Clear
    On Error GoTo 0
    container.Create("group", "qstaff").SetInfo
    Check Not IsMember("qstaff", "qerin"), "no membership passed to the new group"
    container.Delete "group", "qstaff"
    CheckEqual site.PostNTUser("DELUSER", "", "qerin", "", ""), 0, "DELUSER"
End Sub

BeginCase "account life": AccountLife: EndCase
BeginCase "outside the code page": OutsideTheCodePage: EndCase
BeginCase "a group that is gone": GoneGroupTakesNoMember: EndCase
Set site = Nothing
Finish
