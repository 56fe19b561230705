// Splitting a command line into arguments by the Windows rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The first argument (the program) ends at the next blank or tab, or, when it
// begins with a quote, at the next quote; backslashes in it are plain. In the
// other arguments blanks and tabs separate outside quotes; quotes toggle
// quoting and are removed; 2n backslashes before a quote give n backslashes
// and the quote acts, 2n+1 give n backslashes and a literal quote; other
// backslashes are plain; inside quotes three quotes in a row give a literal
// quote. Leading blanks are skipped; an empty or blank line gives no
// arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
