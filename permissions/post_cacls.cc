// PostCACLS: one command line for the ACL tool, run by the command
// interpreter, started and not waited for.
//
// The folder, account and permission go into the line unchanged, blanks and
// double quotes included. A character the interpreter treats specially
// (& | < > ^ %, CR, LF, NUL) would let a caller's text run a command of its
// own: such a call is refused with result 1 and starts nothing.
#include "permissions/post_cacls.h"

#include "component/frame.h"
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

}  // namespace

std::int32_t PostCACLS(std::u16string Action, std::u16string FolderName, std::u16string NtUser,
                       std::u16string Owner) {
    CallFrame frame(u"PostCACLS", ErrorMode::ContinueOnError);
    return frame.Run([&]() -> std::int32_t {
        if (!IsSafeForInterpreter(FolderName) || !IsSafeForInterpreter(NtUser) || !IsSafeForInterpreter(Owner))
            return frame.Detected(kPreconditionFailed, kCannotRun);

        std::u16string line = kPrefix;
        const std::u16string action = UpperAscii(Action);
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
