// The wizard reads whatever the user pastes as the landing page's address: any text must give either a code
// or a reason, never both and never a crash. The first line of an input is the state the wizard expects.
#include "ebayapi/UnitOAuthClient.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t newline = bytes.find('\n');
    const std::string state = newline == std::string::npos ? std::string() : bytes.substr(0, newline);
    const std::string pasted = newline == std::string::npos ? bytes : bytes.substr(newline + 1);
    const TPastedCode read = ReadPastedOAuthCode(pasted, state);
    if (read.Code.empty() == read.Error.empty()) std::abort();
    return 0;
}
