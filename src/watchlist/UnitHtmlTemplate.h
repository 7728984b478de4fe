#pragma once
// Filling the HTML templates of the result and details files, and the text forms their values need.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Placeholders with their percent signs ("%PRICE%") and the text that replaces them.
using TTemplateValues = std::vector<std::pair<std::string_view, std::string>>;

// Replaces every placeholder of text in one pass from left to right: an inserted value is never scanned for
// placeholders again, so a title that reads "%PRICE%" stays that text. Placeholders are case-sensitive; an
// unknown "%NAME%" stays as it is.
std::string FillTemplate(std::string_view text, const TTemplateValues& values);

// A value for a single-quoted script string inside an HTML attribute: everything but letters, digits, blank,
// full stop, minus and underscore becomes \xHH, so neither the attribute nor the string can be left and a
// javascript: link cannot percent-decode a quote into it. The result still needs HtmlEscape.
std::string ScriptStringText(std::string_view value);

// The lines of text split at CR LF, LF or CR, as a string list reads them (no empty entry after a final
// break).
std::vector<std::string> SplitLines(std::string_view text);
// Every line followed by CR LF, also the last one.
std::string JoinLinesCRLF(const std::vector<std::string>& lines);
