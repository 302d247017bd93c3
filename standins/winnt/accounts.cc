#include "standins/winnt/accounts.h"

namespace quorvel::winnt {

void CheckAccountName(std::u16string_view name) {
    constexpr std::u16string_view kForbidden = u"\"/\\[]:;|=,+*?<>";
    if (name.empty() || name.size() > 20 || name.back() == u'.') throw DirectoryError(kBadUsername);
    for (char16_t c : name)
        if (c < 0x20 || c == 0x7F || kForbidden.find(c) != std::u16string_view::npos)
            throw DirectoryError(kBadUsername);
}

std::vector<Account> FreshAccounts() {
    return {
        {u"Administrator", false, u"", u"管理计算机(域)的内置帐户", kNewUserFlags | kUfDontExpirePasswd, ""},
        {u"Guest", false, u"", u"供来宾访问计算机或访问域的内置帐户",
         kNewUserFlags | kUfAccountDisable | kUfPasswdCantChange | kUfDontExpirePasswd, ""},
        {u"Administrators", true, u"", u"管理员对计算机/域有不受限制的完全访问权", 0, ""},
        {u"Users", true, u"", u"防止用户进行有意或无意的系统范围的更改，但是可以运行大部分应用程序", 0, ""},
        {u"Guests", true, u"", u"按默认值，来宾跟用户组的成员有同等访问权，但来宾帐户的限制更多", 0, ""},
    };
}

std::vector<std::pair<std::u16string, std::u16string>> FreshMemberships() {
    return {{u"Administrators", u"Administrator"}, {u"Guests", u"Guest"}};
}

}  // namespace quorvel::winnt
