#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sonitor {

// Command-line texts in the Windows style. Our external programs are given
// fixed texts (quoted program path, then pieces each starting with a blank)
// that are tested word for word; SplitCommandLine turns such a text into an
// argument vector for Process. No shell is ever involved.
//
// Splitting rules (those of the common C runtime):
// - Blanks (space, tab) outside quotes separate arguments; runs of blanks
//   count as one, and leading and trailing blanks are dropped.
// - The first word is the program: if it starts with '"' it runs to the next
//   '"' with no backslash processing (a program path cannot contain '"'),
//   else to the first blank.
// - In every later word, 2n backslashes followed by '"' give n backslashes
//   and the quote toggles quoted mode; 2n+1 backslashes followed by '"' give
//   n backslashes and a literal '"'. Backslashes not followed by '"' are
//   literal.
// - Inside quotes, '""' gives a literal '"' and quoted mode continues.
// - A quoted empty word ("") is an empty argument.
std::vector<std::string> SplitCommandLine(std::string_view text);

// Quotes one argument (not the program) so that SplitCommandLine gives it
// back unchanged: returned as is when it is non-empty and holds no blank,
// newline, vertical tab or '"'; otherwise wrapped in quotes with '"' and the
// backslashes before a '"' or the closing quote escaped.
std::string QuoteArgument(std::string_view argument);

// The program in quotes, then each argument after a blank, quoted as
// QuoteArgument does. Empty when the program is empty or holds a '"', which
// no command line can carry.
std::string JoinCommandLine(const std::vector<std::string>& arguments);

}  // namespace sonitor
