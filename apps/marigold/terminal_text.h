// Text that came from outside (the service's words, file names, captions) made safe to print:
// control characters, invalid UTF-8 and the characters that reorder a line's display are shown as
// escapes (\n, \t, \x1b, \u009b, \u202e), so that nothing read from outside can move the cursor,
// retitle or clear the terminal, or start a line that looks like one of ours. Stateless.
#pragma once

#include <string>
#include <string_view>

namespace marigold::cli {

// `text` with every such character escaped, line breaks included.
std::string printable(std::string_view text);

// The same, but line breaks are kept: for whole messages whose line breaks are our own and whose
// outside parts went through printable() already.
std::string printableLines(std::string_view text);

// The columns `text` takes on a terminal: one per character, two for the wide characters of East
// Asian scripts (a translated message's Japanese, say).
std::size_t columnsTaken(std::string_view text);

// The start of `text` that fits in `columns` columns, ending between two characters.
std::string fittedTo(std::string_view text, std::size_t columns);

}  // namespace marigold::cli
