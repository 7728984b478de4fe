#pragma once
// Which files of the gadget folder the host serves to the page, and as what.

#include <string>

// The file's extension in lower case, without the dot; "" when it has none.
std::string KovaFileExtension(const std::string& name);
// The Content-Type for an extension the host serves, or nullptr.
const char* KovaContentTypeFor(const std::string& extension);
// The control's own output files ("result.txt", "details.html"): rewritten while the page runs, so never
// cached, and they hold the user's watch list.
bool IsKovaControlOutput(const std::string& relative);
// Whether a path relative to the gadget directory (segments joined by "/") is one of the page's files.
bool IsKovaServable(const std::string& relative);
