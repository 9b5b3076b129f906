#pragma once
// The text form of the command lines handed to the archiver libraries, and
// its reading back inside the libraries.
//
// A command line is a sequence of blank-separated tokens. A double quote
// opens and closes a quoted part of a token; inside a quoted part a double
// quote and a backslash are written with a backslash in front (\" and \\),
// every other byte stands for itself (blanks and line breaks included).
// Outside quotes every byte but the blank, the tab and the double quote stands for
// itself, so a token such as -p"two words" reads as -ptwo words.
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

// The text between the quotes of a quoted token: backslashes and double
// quotes get a backslash in front.
std::string EscapeQuoted(std::string_view text);

// A password as it follows -p: quoted (and escaped) when it holds a blank or
// a double quote, unchanged otherwise.
std::string PasswordToken(std::string_view password);

// The tokens of a command line with quotes removed and escapes undone. An
// empty quoted token ("") is kept as an empty token.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The same tokens as views, for lines of a million names: a token whose text
// stands in the line as it is (a quoted token without escapes, a plain
// word) is a view into `line`; any other is written into `rewritten` and
// viewed there. The views last as long as both `line` and `rewritten`.
std::vector<std::string_view> SplitCommandLineViews(std::string_view line, std::deque<std::string>& rewritten);

}  // namespace tessarine
