#include "ebayapi/UnitNewAPIXMLErrorParser.h"

#include "base/UnitUtils.h"
#include "items/UnitParserBaseXML.h"

#include <vector>

namespace {

const char* const SNoResults = "The retrieved data contain no results.";
const char* const SResultsNotParsed = "The results could not be parsed.";
const char* const SErrorBlockFailed =
    "Error getting eBay results. Data may have been only partially retrieved.";
const char* const STokenInvalid = "The token for using the eBay API is invalid.";
const char* const STokenExpired = "The token for using the eBay API is no longer valid.";
const char* const SApiErrorWith = "Error on API call (%s).";
const char* const SApiError = "Error on API call.";

const char* const KnownRoots[] = {"ebay",
                                  "GetSearchResultsResponse",
                                  "GetMyMessagesResponse",
                                  "GetMyeBayBuyingResponse",
                                  "GetMyeBaySellingResponse",
                                  "GetItemResponse",
                                  "SetReturnURLResponse",
                                  "FetchTokenResponse",
                                  "GetAllBiddersResponse",
                                  "GetUserResponse",
                                  "GetRuNameResponse",
                                  "GetSessionIDResponse"};

TEbayErrorSeverity SeverityFromText(const std::string& text) {
    if (text == "Warning" || text == "2") return TEbayErrorSeverity::esWarning;
    return TEbayErrorSeverity::esError;
}

TEbayErrorClassification ClassificationFromText(const std::string& text) {
    if (SameText(text, "SystemError")) return TEbayErrorClassification::ecSystemError;
    if (SameText(text, "RequestError")) return TEbayErrorClassification::ecRequestError;
    return TEbayErrorClassification::ecNone;
}

} // namespace

std::string GetParserResultMessage(TParserResultCode code, const std::string& shortMessage) {
    switch (code) {
    case TParserResultCode::prUnknownRoot:
        return SNoResults;
    case TParserResultCode::prDataParseFailed:
        return SResultsNotParsed;
    case TParserResultCode::prErrorBlockFailed:
        return SErrorBlockFailed;
    case TParserResultCode::prTokenInvalid:
        return STokenInvalid;
    case TParserResultCode::prTokenExpired:
        return STokenExpired;
    case TParserResultCode::prApiError:
    case TParserResultCode::prApiWarning:
        return shortMessage.empty() ? std::string(SApiError) : Format(SApiErrorWith, {shortMessage});
    default:
        return "";
    }
}

bool TEbayAPIXMLErrorParser::IsKnownRoot(const std::string& name) {
    for (const char* known : KnownRoots)
        if (SameText(name, known)) return true;
    return false;
}

void TEbayAPIXMLErrorParser::Reset() {
    FErrorCode = 0;
    FShortMessage.clear();
    FLongMessage.clear();
    FClassification = TEbayErrorClassification::ecNone;
    FSeverity = TEbayErrorSeverity::esNone;
    FErrorBlockFailed = false;
    FRootRecognised = true;
}

void TEbayAPIXMLErrorParser::ParseErrors(const TXMLNode& root) {
    Reset();
    try {
        FRootRecognised = !root.IsNull() && IsKnownRoot(root.NodeName());
        if (!FRootRecognised) return;
        TParserBaseXML reader;
        const bool ackFailure = SameText(reader.ReadChildText(root, "Ack"), "Failure");
        // The older layout wraps each entry in "Error"; the newer one repeats "Errors" with the fields
        // inside.
        std::vector<TXMLNode> entries;
        for (pugi::xml_node errors : root.Raw().children("Errors")) {
            bool wrapped = false;
            for (pugi::xml_node error : errors.children("Error")) {
                entries.emplace_back(error);
                wrapped = true;
            }
            if (!wrapped) entries.emplace_back(errors);
        }
        if (entries.empty()) {
            // A failure without any entry must still read as one, only without a code or text.
            if (ackFailure) FSeverity = TEbayErrorSeverity::esError;
            return;
        }
        TXMLNode entry = entries.front();
        // A failed call may list warnings before its error; the error is what the user needs to see.
        if (ackFailure)
            for (const TXMLNode& candidate : entries)
                if (SeverityFromText(reader.ReadChildText(candidate, "SeverityCode")) ==
                    TEbayErrorSeverity::esError) {
                    entry = candidate;
                    break;
                }
        if (TParserBaseXML::Child(entry, "ErrorCode"))
            FErrorCode = reader.ReadChildInteger(entry, "ErrorCode", 0);
        else if (TParserBaseXML::Child(entry, "Code"))
            FErrorCode = reader.ReadChildInteger(entry, "Code", 0);
        FSeverity = SeverityFromText(reader.ReadChildText(entry, "SeverityCode"));
        // An answer that says it failed is never a success, whatever its entries' severities.
        if (ackFailure) FSeverity = TEbayErrorSeverity::esError;
        if (TParserBaseXML::Child(entry, "ErrorClassification"))
            FClassification = ClassificationFromText(reader.ReadChildText(entry, "ErrorClassification"));
        else if (TParserBaseXML::Child(entry, "ErrorClass"))
            FClassification = ClassificationFromText(reader.ReadChildText(entry, "ErrorClass"));
        FShortMessage = reader.ReadChildText(entry, "ShortMessage");
        FLongMessage = reader.ReadChildText(entry, "LongMessage");
    } catch (...) {
        FErrorBlockFailed = true;
    }
}

TParserResultCode TEbayAPIXMLErrorParser::GetResultCode() const {
    if (!FRootRecognised) return TParserResultCode::prUnknownRoot;
    if (FErrorBlockFailed) return TParserResultCode::prErrorBlockFailed;
    if (FSeverity == TEbayErrorSeverity::esNone) return TParserResultCode::prNoError;
    switch (FErrorCode) {
    case 17:
        return TParserResultCode::prError17;
    case 931:
        return TParserResultCode::prTokenInvalid;
    case 932:
        return TParserResultCode::prTokenExpired;
    case 16110:
        return TParserResultCode::prError16110;
    default:
        return FSeverity == TEbayErrorSeverity::esWarning ? TParserResultCode::prApiWarning
                                                          : TParserResultCode::prApiError;
    }
}

std::string TEbayAPIXMLErrorParser::GetResultMessage() const {
    return GetParserResultMessage(GetResultCode(), FShortMessage);
}
