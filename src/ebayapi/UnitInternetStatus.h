#pragma once
// The transport vocabulary of the client: the outcome of every network operation and its user message,
// shared by the curl client and the transports above it.

#include <array>
#include <cstdint>
#include <string>

// The outcome of every network operation. Values below iyNon are usable answers.
enum TInternetStatus : uint8_t {
    iyOK,
    iyCreated,
    iyAccepted,
    iyNon,
    iyNoContent,
    iyResetContent,
    iyPartialContent,
    iyMovedPermanently,
    iyMovedTemporarily,
    iySeeOther,
    iyNotModified,
    iyUseProxy,
    iyBadRequest,
    iyUnauthorized,
    iyForbidden,
    iyNotFound,
    iyMethodNotAllowed,
    iyNotAcceptable,
    iyProxyAuthenticationRequired,
    iyRequestTimeout,
    iyConflict,
    iyGone,
    iyLengthRequired,
    iyPreconditionFailed,
    iyRequestEntityToLong,
    iyURITooLong,
    iyUnsupportedMediaType,
    iyInternalServerError,
    iyNotImplemented,
    iyBadGateway,
    iyServiceUnavailable,
    iyGatewayTimeout,
    iyHTTPNotSupported,
    iyProxy,
    iyUnknown,
    iyFailedTargetFileWrite
};

enum TDownloadState : uint8_t {
    dsNotStarted,
    dsStarted,
    dsSuccessful,
    dsFailedURLNotFound,
    dsFailedCanceled,
    dsFailedUnknownError,
    dsFailedTargetFileWrite
};

extern const std::array<const char*, 7> DownloadStateNames;
extern const std::array<const char*, 36> InternetStatusNames;

// The HTTP response code of the last exchange as an outcome; a code outside the table (also "no response")
// is iyUnknown.
TInternetStatus ResponseCodeToStatus(int responseCode);

// True for the outcomes callers may read an answer from.
inline bool InternetStatusSucceeded(TInternetStatus status) {
    return status < iyNon;
}

// The text the user sees for an outcome; empty for iyOK.
std::string InternetStatusMessage(TInternetStatus status);
