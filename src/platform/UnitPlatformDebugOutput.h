#pragma once
// The debugger-output channel: standard error, one line per message.

#include <functional>
#include <string_view>

void OutputDebugString(std::string_view text);

// Tests capture the channel; an empty function restores standard error.
void SetDebugOutputSinkForTesting(std::function<void(std::string_view)> sink);
