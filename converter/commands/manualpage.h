#pragma once

// tessary-vol's manual page, made from the command table and the overview's text: the same
// words as --help, so the page cannot come to say other than the program.

#include "commandline.h"

#include <string>
#include <vector>

// The whole page in roff (man macros), for section 1.
[[nodiscard]] std::string manualPage(const std::vector<Command>& commands);

// A help text's lines after its usage line in roff: lines at the left margin fill paragraphs,
// a blank line ends one, and an indented line starts an item that deeper lines continue. An
// item is a term and its description ("-o, --output OUT   the volume to write") when its
// description follows a gap of three spaces or more, or starts at a column that other lines of
// its block share, so that a list of options or of file kinds becomes one; any other item is
// an indented paragraph.
[[nodiscard]] std::string roffHelpText(const std::string& help);

// Text that roff prints as it is: backslashes and minus signs escaped, and a line that would
// begin with a control character guarded.
[[nodiscard]] std::string roffText(const std::string& text);
