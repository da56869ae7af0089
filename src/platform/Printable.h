#pragma once

#include <string>
#include <string_view>

namespace qb::platform {

// `text` made safe for one console line: control characters (C0, DEL, C1), the bidirectional embedding,
// override and isolate marks, and bytes that are not valid UTF-8 become visible escapes ("\x1b",
// "\u202e"), so that a name from the network can neither end the line, move the cursor, nor reorder what
// follows it on the terminal. Everything else stays as it is.
std::string printable(std::string_view text);

}  // namespace qb::platform
