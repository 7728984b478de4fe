#pragma once
// The parsers of the Trading API answers: the common loader with its result code, the watch list page
// parser and the token parser.

#include "base/UnitDateTime.h"
#include "ebayapi/UnitNewAPIXMLErrorParser.h"
#include "ebayapi/UnitWatchListPageScan.h"
#include "items/UnitParserBaseXML.h"
#include "items/UnitXMLDom.h"
#include "storage/UnitStream.h"

#include <memory>
#include <string>
#include <string_view>

class TResultList;
class TSearchResultAuctionDetails;

// Loads one answer, judges its error block and keeps the result code and message. Numbers are read with
// "." and dates as year-month-day, whatever the user's locale. One object serves one thread run.
class TXMLeBayApiResultParser : public TParserBaseXML {
public:
    TXMLeBayApiResultParser();
    ~TXMLeBayApiResultParser() override;

    // Loads the stream from position 0 and evaluates the error block; true when this answer counts as a
    // success. Raises EXMLDomError for bytes that are not well-formed XML.
    // allowDamagedTexts keeps a page whose texts hold bytes that are not UTF-8 (see LoadedInvalidUtf8).
    bool LoadResponse(TStream& stream, bool allowDamagedTexts = false);
    // Evaluates the error block of the loaded document first when nothing is stored yet.
    TParserResultCode GetResultCode();
    const std::string& ResultMessage() const { return FResultMessage; }
    // eBay's ErrorCode of the stored failure (518: the call limit is reached); 0 when it had none.
    int ErrorNumber() const { return FErrorNumber; }

    // eBay's "2009-03-15T18:30:00.000Z" as a date-time in the same GMT; unreadable text gives the current
    // local time.
    TDateTime ConvertEbayDateTime(std::string_view text) const;
    std::string SiteIDToName(int siteID) const;

protected:
    // A new code replaces the stored one only while that is unset or a success: the first failure of a run
    // stays.
    void StoreResult(TParserResultCode code, const std::string& message, int errorNumber = 0);
    // Stores code 3 by the same rule, for answers whose data part could not be read.
    void StoreDataParseFailure();
    // The last load kept texts that are not UTF-8; the caller must check what it reads.
    bool LoadedInvalidUtf8() const;

    TXMLNode FRootNode;

private:
    TParserResultCode FResultCode = TParserResultCode::prNotEvaluated;
    std::string FResultMessage;
    int FErrorNumber = 0;
    std::unique_ptr<TXMLDocument> FXMLDoc;
};

// One page of the GetMyeBayBuying answer into auction items.
class TXMLMyEbayWatchListParser : public TXMLeBayApiResultParser {
public:
    // Appends the page's items to list (emptied first unless append) and reads the page count. An answer
    // without a WatchList, with an empty one or with one whose pagination counts 0 entries is an empty list.
    // False for an answer judged a failure (list untouched), for one that is no XML or has no readable watch
    // list (code 3 stored). An item that cannot be read (a text that is not UTF-8, say) is left out with a
    // log line; the rest of the page counts.
    // A page in the plain form eBay writes is read straight from its text; any other, and any answer that is
    // no success, goes through ParseWatchListFromDocument, with the same outcome.
    virtual bool ParseWatchList(TStream* stream, TResultList& list, bool append);
    // ParseWatchList through a loaded document, whatever the form of the page.
    bool ParseWatchListFromDocument(TStream* stream, TResultList& list, bool append);
    // The last ParseWatchList read its page straight from the text.
    bool PageReadFromText() const { return FPageReadFromText; }
    // The page count of the last parsed page; 0 when it did not say.
    int TotalNumberOfPages = 0;

protected:
    void ReadItem(const TXMLNode& node, TSearchResultAuctionDetails& item);
    // A price as the items keep it: "." decimal separator, 0 when unreadable or beyond single precision.
    float ReadSingle(std::string_view text) const;

private:
    template <class TFields> void ReadItemFields(const TFields& fields, TSearchResultAuctionDetails& item);
    bool ReadScannedPage(TResultList& list, bool append);

    TWatchListPageScan FScan;
    bool FPageReadFromText = false;
};

// The token of the FetchToken answer.
class TXMLeBayFetchTokenParser : public TXMLeBayApiResultParser {
public:
    // True with token = eBayAuthToken for a successful answer that carries one; false with the token
    // unchanged otherwise (code 3 stored for a missing stream, bytes that are no XML or an answer without a
    // token).
    bool ParseToken(TStream* stream, std::string& token);
};

// The session id of the GetSessionID answer.
class TXMLeBaySessionIDParser : public TXMLeBayApiResultParser {
public:
    // True with sessionID = SessionID for a successful answer that carries one; false with sessionID
    // unchanged otherwise (code 3 stored for bytes that are no XML or an answer without a session id).
    bool ParseSessionID(TStream* stream, std::string& sessionID);
};
