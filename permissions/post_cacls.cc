// PostCACLS: one command line for the ACL tool, run by the command
// interpreter, started and not waited for.
//
// The folder, account and permission go into the line unchanged, blanks and
// double quotes included. A character the interpreter treats specially
// (& | < > ^ %, CR, LF, NUL) would let a caller's text run a command of its
// own: such a call is refused with result 1 and starts nothing.
//
// The folder may hold blanks, so that a caller can quote it or hand the tool
// several arguments; the account and the permission are one argument each,
// placed around the one ":" of the grant. A blank, tab or other control
// character, a double quote, a ":" or a "/" in either would make another
// argument of the tool (Owner "R daemon:F" would grant daemon full control),
// so such a call is refused the same way; so is a folder, account or
// permission holding a character the code page cannot hold, which would
// reach the tool as '?'.
#include "permissions/post_cacls.h"

#include <initializer_list>

#include "base/ascii.h"
#include "component/frame/frame.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/strings.h"

namespace quorvel::permissions {
namespace {

constexpr char16_t kPrefix[] = u"cmd /c echo y| CACLS ";
constexpr char16_t kCannotRun[] = u"，错误源：Cacls，错误描述：程序执行失败(参数不对)";
constexpr std::uint32_t kHighestFailure = 32;

bool IsSafeForInterpreter(std::u16string_view text) {
    return text.find_first_of(std::u16string_view(u"&|<>^%\r\n\0", 9)) == std::u16string_view::npos;
}

// One argument of the tool, and only the one it is put there as.
bool IsOneArgument(std::u16string_view text) {
    for (const char16_t c : text)
        if (c <= u' ' || c == u'"' || c == u':' || c == u'/') return false;
    return true;
}

bool IsSafeLine(const std::u16string& folder, const std::u16string& account, const std::u16string& permission) {
    for (const std::u16string* text : {&folder, &account, &permission})
        if (!IsSafeForInterpreter(*text) || !FitsCodePage(*text)) return false;
    return IsOneArgument(account) && IsOneArgument(permission);
}

}  // namespace

std::int32_t PostCACLS(std::u16string Action, std::u16string FolderName, std::u16string NtUser,
                       std::u16string Owner) {
    CallFrame frame(u"PostCACLS", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        if (!IsSafeLine(FolderName, NtUser, Owner)) return frame.Detected(kPreconditionFailed, kCannotRun);

        std::u16string line = kPrefix;
        const std::u16string action = base::ToUpperAscii(Action);
        if (action == u"ADD") {
            line += FolderName + u" /t /e /p " + NtUser + u":" + Owner;
        } else if (action == u"DEL") {
            line += FolderName + u" /t /e /r " + NtUser;
        }

        if (platform::WinExec(platform::ToAnsi(line)) <= kHighestFailure)
            return frame.Detected(kPreconditionFailed, kCannotRun);
        return frame.Finish();
    });
}

}  // namespace quorvel::permissions
