#pragma once
// Trading API answers in eBay's own layout: the default namespace on the root, Timestamp, Ack, Errors,
// Version and Build, then the call's payload.

#include "SandboxAccounts.h"

#include <optional>
#include <string>

// One entry of the Errors block.
struct TSandboxApiError {
    int Code = 0;
    std::string ShortMessage, LongMessage;
    std::string Severity = "Error";              // or "Warning"
    std::string Classification = "RequestError"; // or "SystemError"
};

// The errors the sandbox answers with, under the codes eBay uses for them.
namespace SandboxErrors {
TSandboxApiError UnsupportedCall(const std::string& callName);
TSandboxApiError XmlParseError(const std::string& detail);
TSandboxApiError InvalidHeader(const std::string& header, const std::string& value);
TSandboxApiError InvalidApplication(const std::string& appName);
TSandboxApiError InvalidInput(const std::string& tag);
TSandboxApiError InvalidToken();
TSandboxApiError ExpiredToken();
TSandboxApiError SignInNotCompleted();
TSandboxApiError CallLimit();
} // namespace SandboxErrors

// eBay's time text: 2009-03-15T18:30:00.000Z.
std::string SandboxTimeText(TDateTime gmt);

std::string BuildErrorResponse(const std::string& rootName, const TSandboxApiError& error, TDateTime now);
// One page of the watch list; a page past the end has an empty ItemArray but still the totals. announcedPages
// replaces the real page count, with a number of entries that fits it.
std::string BuildWatchListResponse(const TSandboxAccount& account, int entriesPerPage, int pageNumber,
                                   TDateTime now, std::optional<int> announcedPages = std::nullopt);
std::string BuildFetchTokenResponse(const std::string& token, TDateTime hardExpiration, TDateTime now);
// GetUser for the account the token belongs to: UserID (its name) and EIASToken (its immutable id).
std::string BuildGetUserResponse(const TSandboxAccount& account, TDateTime now);
std::string BuildGetSessionIDResponse(const std::string& sessionID, TDateTime now);
