#pragma once
// Opening a web address in the user's browser.

#include <string>

// Hands the address to the desktop's default handler; a failure shows a message box and is not raised.
// openedAddress, when given, receives the address unchanged.
void OpenURL(const std::string& address, std::string* openedAddress = nullptr);
