// Page text as JSON strings for the search bundle: text is shown as UTF-8 when its bytes are, and
// read as Latin-1 otherwise (as the search page shows stored titles and paths).
#pragma once

#include <string>
#include <string_view>

namespace quarry {

// True when bytes are well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

// bytes as UTF-8: themselves when well-formed, else each byte read as Latin-1.
std::string DisplayUtf8(std::string_view bytes);

// Appends "text" as a JSON string. REQUIRES: text is well-formed UTF-8.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace quarry
