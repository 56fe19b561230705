// Line breaking for the windows' texts. Pure; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The pixel width of a UTF-8 text.
using TextMeasure = std::function<int(std::string_view)>;

// Breaks UTF-8 `text` into lines no wider than `maxWidth`. A line feed (with
// or without a carriage return before it) always ends a line. Otherwise a
// line may end at a blank (the blanks there are dropped, and blanks never
// make a line too wide) or between two characters of which one is not a
// Latin letter or digit, following the Japanese rules: no line starts with
// small kana, the long vowel mark, closing brackets or punctuation such as
// "。", "、", "！", and no line ends with an opening bracket. Of these places
// that fit, the line takes the last end of a phrase (a blank, or after "。",
// "、", "！", "？" and the like), else the last start of a word after kana
// (hiragana followed by kanji, katakana or Latin), else the last place, each
// only where the line is at least half full; or else the last place at all.
// A line without any such place (a long Latin word) is cut before the first
// character that does not fit. Every line holds at
// least one character, so a character wider than the area gets a line of its
// own.
std::vector<std::string> WrapText(std::string_view text, int maxWidth, const TextMeasure& measure);
