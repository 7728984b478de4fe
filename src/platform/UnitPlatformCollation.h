#pragma once
// Case-insensitive text order in the user's locale collation, for UTF-8 texts.

#include <string>
#include <string_view>

// Negative, zero or positive as a sorts before, with or after b.
int CompareTextInLocale(std::string_view a, std::string_view b);

// A key whose order (as compared by std::wstring) is the order of CompareTextInLocale: callers that
// compare one text many times build its key once.
std::wstring LocaleTextSortKey(std::string_view text);

// The text's code points in lower case (Unicode's simple case mapping), for case-insensitive searches.
std::wstring FoldTextCase(std::string_view text);
