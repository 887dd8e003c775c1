// The window's one crossing between bytes and Qt text.
//
// Pages, words, titles and paths are bytes with no locale. The window shows them decoded; the
// bytes behind every list entry and label stay exact, so nothing is lost on the way back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace quarry {

// The text shown for bytes: UTF-8 when the bytes are valid UTF-8, else Latin-1 (one character
// per byte, so every byte stays visible and distinct).
QString DisplayText(std::string_view bytes);

// The bytes of a file path that Qt gives (file dialog, drops), in the local 8-bit file name
// encoding (QFile::encodeName), so the path names the same file when opened.
std::string PathBytes(const QString& path);

// Cuts text to at most maxBytes bytes. When text is valid UTF-8 the cut never splits a
// character (it moves back to the start of the character it would split).
std::string CutToBytes(std::string_view text, std::size_t maxBytes);

}  // namespace quarry
