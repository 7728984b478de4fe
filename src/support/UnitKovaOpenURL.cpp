#include "support/UnitKovaOpenURL.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformMessageBox.h"
#include "platform/UnitPlatformShell.h"

namespace {
const char* const SErrorOpenBrowser = "Error by attempt to open browser.";
const char* const SSystemError = "System error.  Code: %d";
const char* const SApplicationTitle = "KovaGadget";
} // namespace

void OpenURL(const std::string& address, std::string* openedAddress) {
    if (openedAddress) *openedAddress = address;
    try {
        const TShellOpenResult result = ShellOpen(address);
        if (!result.Success)
            throw EOSError(Format(SSystemError, {result.ErrorCode}) + "\r\n" + result.ErrorText,
                           result.ErrorCode);
    } catch (const std::exception& e) {
        ShowMessageBox(std::string(SErrorOpenBrowser) + "\r\n\r\n" + e.what(), SApplicationTitle,
                       MB_OK | MB_ICONERROR);
    }
}
