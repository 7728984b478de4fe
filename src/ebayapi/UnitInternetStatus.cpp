#include "ebayapi/UnitInternetStatus.h"

const std::array<const char*, 7> DownloadStateNames = {"dsNotStarted",           "dsStarted",
                                                       "dsSuccessful",           "dsFailedURLNotFound",
                                                       "dsFailedCanceled",       "dsFailedUnknownError",
                                                       "dsFailedTargetFileWrite"};

const std::array<const char*, 36> InternetStatusNames = {"iyOK",
                                                         "iyCreated",
                                                         "iyAccepted",
                                                         "iyNon",
                                                         "iyNoContent",
                                                         "iyResetContent",
                                                         "iyPartialContent",
                                                         "iyMovedPermanently",
                                                         "iyMovedTemporarily",
                                                         "iySeeOther",
                                                         "iyNotModified",
                                                         "iyUseProxy",
                                                         "iyBadRequest",
                                                         "iyUnauthorized",
                                                         "iyForbidden",
                                                         "iyNotFound",
                                                         "iyMethodNotAllowed",
                                                         "iyNotAcceptable",
                                                         "iyProxyAuthenticationRequired",
                                                         "iyRequestTimeout",
                                                         "iyConflict",
                                                         "iyGone",
                                                         "iyLengthRequired",
                                                         "iyPreconditionFailed",
                                                         "iyRequestEntityToLong",
                                                         "iyURITooLong",
                                                         "iyUnsupportedMediaType",
                                                         "iyInternalServerError",
                                                         "iyNotImplemented",
                                                         "iyBadGateway",
                                                         "iyServiceUnavailable",
                                                         "iyGatewayTimeout",
                                                         "iyHTTPNotSupported",
                                                         "iyProxy",
                                                         "iyUnknown",
                                                         "iyFailedTargetFileWrite"};

namespace {

struct TCodeStatus {
    int Code;
    TInternetStatus Status;
};

constexpr TCodeStatus CodeTable[] = {
    {200, iyOK},
    {201, iyCreated},
    {202, iyAccepted},
    {203, iyNon},
    {204, iyNoContent},
    {205, iyResetContent},
    {206, iyPartialContent},
    {301, iyMovedPermanently},
    {302, iyMovedTemporarily},
    {303, iySeeOther},
    {304, iyNotModified},
    {305, iyUseProxy},
    {400, iyBadRequest},
    {401, iyUnauthorized},
    {403, iyForbidden},
    {404, iyNotFound},
    {405, iyMethodNotAllowed},
    {406, iyNotAcceptable},
    {407, iyProxyAuthenticationRequired},
    {408, iyRequestTimeout},
    {409, iyConflict},
    {410, iyGone},
    {411, iyLengthRequired},
    {412, iyPreconditionFailed},
    {413, iyRequestEntityToLong},
    {414, iyURITooLong},
    {415, iyUnsupportedMediaType},
    {500, iyInternalServerError},
    {501, iyNotImplemented},
    {502, iyBadGateway},
    {503, iyServiceUnavailable},
    {504, iyGatewayTimeout},
    {505, iyHTTPNotSupported},
};

constexpr const char* NoConnectionText = "Internet error! Message: \"No connection to Internet\".";

const std::array<const char*, 36> MessageTable = {
    "",
    NoConnectionText,
    NoConnectionText,
    NoConnectionText,
    "Internet error! Message: \"No content\".",
    "Internet error! Message: \"Reset content\".",
    "Internet error! Message: \"Partial content\".",
    "Internet error! Message: \"Page moved\"",
    "Internet error! Message: \"Page moved temporarily\".",
    "Internet error! Message: \"See other\".",
    "Internet error! Message: \"Not modified\".",
    "Internet error! Please make settings for a proxy server in the settings menu!",
    "Internet error! Message: \"Bad request\".",
    "Internet error! Message: \"Unauthorized\".",
    "Internet error! Message: \"Forbidden\".",
    "Internet error! Message: \"Not found\".",
    "Internet error! Message: \"Method not allowed\".",
    "Internet error! Message: \"Not acceptable\".",
    "Internet error! Please enter a proxy user name and password in the settings menu.",
    "Internet error! Request timeout. Please try again later or limit search parameters.",
    "Internet error! Message: \"Conflict\".",
    "Internet error! Message: \"Gone\".",
    "Internet error! Message: \"LengthRequired\".",
    "Internet error! Message: \"Precondition failed\".",
    "Internet error! Message: \"Request entity too long\".",
    "Internet error! Message: \"URI too long\".",
    "Internet error! Message: \"Unsupported media type\".",
    "Internet error! Internal server error. Please try again later",
    "Internet error! Message: \"Not supported\".",
    "Internet error! Message: \"Bad gateway\".",
    "Internet error! Message: \"Service unavailable\".",
    "Internet error! Message: \"Gateway timeout\".",
    "Internet error! Message: \"HTTP not supported\".",
    "Internet error! Message: \"Please check your proxy settings\".",
    NoConnectionText,
    NoConnectionText,
};

} // namespace

TInternetStatus ResponseCodeToStatus(int responseCode) {
    for (const auto& entry : CodeTable)
        if (entry.Code == responseCode) return entry.Status;
    return iyUnknown;
}

std::string InternetStatusMessage(TInternetStatus status) {
    // A byte from outside the enumeration still gets a text instead of a read past the table.
    if (status >= MessageTable.size()) return NoConnectionText;
    return MessageTable[status];
}
