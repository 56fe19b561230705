// Line breaking for the message box's text area. Pure; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The pixel width of a UTF-8 text.
using TextMeasure = std::function<int(std::string_view)>;

// Breaks UTF-8 `text` into lines no wider than `maxWidth`: a line feed (with
// or without a carriage return before it) always ends a line; otherwise a
// line ends at its last blank that still fits (the blanks there are
// dropped), or, in text without blanks such as Japanese, before the first
// character that does not fit. Every line holds at least one character, so a
// character wider than the area gets a line of its own.
std::vector<std::string> WrapText(std::string_view text, int maxWidth, const TextMeasure& measure);
