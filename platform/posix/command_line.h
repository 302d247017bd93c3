// Windows command lines on POSIX: split into arguments by the rules Windows
// programs apply to the command line they are given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::posix {

// The program name ends at the first blank, or at the closing quote when it
// begins with one; backslashes are ordinary there. The arguments after it:
// blanks (space, tab) separate them outside quotes; a double quote starts or
// ends a quoted part; 2n backslashes before a quote give n backslashes and
// the quote keeps its meaning, 2n+1 give n backslashes and a literal quote;
// other backslashes are literal; inside quotes, a doubled quote is one
// literal quote.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

}  // namespace quorvel::posix
