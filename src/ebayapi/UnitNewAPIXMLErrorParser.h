#pragma once
// The result codes of the API response parsers and the reader of a response's error block.

#include "items/UnitXMLDom.h"

#include <cstdint>
#include <string>

// The one-byte outcome stored by every API response parser; GetParserResultMessage gives its user text.
enum class TParserResultCode : uint8_t {
    prNotEvaluated = 0,
    prNoError = 1,
    prUnknownRoot = 2,
    prDataParseFailed = 3,
    prErrorBlockFailed = 4,
    prErrorNodesIncomplete = 5,
    prTokenInvalid = 6, // error code 931
    prTokenExpired = 7, // error code 932
    prError16110 = 8,
    prApiError = 9,
    prApiWarning = 10,
    prError17 = 11,
};

// The message of a code; shortMessage fills the texts of codes 9 and 10.
std::string GetParserResultMessage(TParserResultCode code, const std::string& shortMessage = "");

class TXMLParserResult {
public:
    // Only "no error" and "warning" count as success.
    static bool IsSuccess(TParserResultCode code) {
        return code == TParserResultCode::prNoError || code == TParserResultCode::prApiWarning;
    }
};

enum class TEbayErrorSeverity : uint8_t { esNone = 0, esError = 1, esWarning = 2 };
enum class TEbayErrorClassification : uint8_t { ecNone = 0, ecSystemError = 1, ecRequestError = 2 };

// Judges a Trading API response by its root and its first error entry, in either of eBay's two layouts.
class TEbayAPIXMLErrorParser {
public:
    TEbayAPIXMLErrorParser() { Reset(); }

    // Never raises: a failure while reading the error block is kept as ErrorBlockFailed.
    void ParseErrors(const TXMLNode& root);
    TParserResultCode GetResultCode() const;
    std::string GetResultMessage() const;

    int ErrorCode() const { return FErrorCode; }
    const std::string& ShortMessage() const { return FShortMessage; }
    const std::string& LongMessage() const { return FLongMessage; }
    TEbayErrorClassification Classification() const { return FClassification; }
    TEbayErrorSeverity Severity() const { return FSeverity; }
    bool ErrorBlockFailed() const { return FErrorBlockFailed; }
    bool RootRecognised() const { return FRootRecognised; }

    // Whether a root element name is one of the responses this program knows (letter case ignored).
    static bool IsKnownRoot(const std::string& name);

private:
    void Reset();

    int FErrorCode;
    std::string FShortMessage;
    std::string FLongMessage;
    TEbayErrorClassification FClassification;
    TEbayErrorSeverity FSeverity;
    bool FErrorBlockFailed;
    bool FRootRecognised;
};
