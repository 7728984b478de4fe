#include "watchlist/UnitKovaThreads.h"

#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "support/UnitExceptions.h"
#include "support/UnitLogging.h"
#include "support/UnitUtils.h"

namespace {

const TKovaGadgetDat& RequireGadgetDat(const char* location) {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat) throw Exception(std::string(location) + ": the application data are not loaded");
    return *dat;
}

void FillCredentials(TAPICallBase& call, const TDatEbayAPI& api, const char* location) {
    call.DevName = api.APIDevID;
    call.AppName = api.APIAppID;
    call.CertName = api.APICertID;
    TIniFileManager* settings = IniFileManager();
    if (!settings) throw Exception(std::string(location) + ": the settings are not loaded");
    call.SetProxySettings(settings->GetProxySettings());
}

// An HTTP error answer arrives as an exception with the status already set from its code; a failure that
// left the status usable is still a failure.
TInternetStatus FailedStatus(TInternetStatus status) {
    return InternetStatusSucceeded(status) ? iyUnknown : status;
}

} // namespace

std::atomic<int> TThreadBase::FLiveCount{0};

TThreadBase::TThreadBase() {
    ++FLiveCount;
}

TThreadBase::~TThreadBase() {
    --FLiveCount;
}

int TThreadBase::LiveCount() {
    return FLiveCount.load();
}

// TThreadGetMyEbayWatchlist

TThreadGetMyEbayWatchlist::TThreadGetMyEbayWatchlist() : FItems(std::make_unique<TDetailsList>()) {
    // The manager learns the end through FOnFinished; the notification only lets the thread free itself.
    OnTerminate = [](TThread&) {};
}

TThreadGetMyEbayWatchlist::~TThreadGetMyEbayWatchlist() {
    TerminateAndWait();
}

std::unique_ptr<TDetailsList> TThreadGetMyEbayWatchlist::TakeItems() {
    auto items = std::move(FItems);
    FItems = std::make_unique<TDetailsList>();
    return items;
}

bool TThreadGetMyEbayWatchlist::PrepareCall() {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadGetMyEbayWatchlist.PrepareCall").EbayAPI();
        FillCredentials(*FAPICall, api, "TThreadGetMyEbayWatchlist.PrepareCall");
        FAPICall->Token = FToken;
        FAPICall->CompatibilityLevel = 527;
        FAPICall->SiteID = api.APISiteID;
        FAPICall->DurationInDays = 90;
        FAPICall->RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.PrepareCall");
        return false;
    }
}

void TThreadGetMyEbayWatchlist::RequestPages() {
    FParseSucceeded = false;
    FItems->Clear();
    FRequestLoopStarted = true;
    FAPICall->Cancel = FCancel.get();
    // The outcome of a load with a failed page is that failure, even when later pages succeed: otherwise
    // the page would show an incomplete list as a complete one.
    TInternetStatus firstCallFailure = iyOK;
    std::string firstCallFailureText;
    bool parseFailed = false;
    TParserResultCode firstParseFailure = TParserResultCode::prNotEvaluated;
    std::string firstParseFailureText;
    bool incomplete = false;
    int page = 0;
    int pageCount = 1;
    while (page < pageCount) {
        if (Terminated() || *FCancel) {
            FCanceled = true;
            break;
        }
        // The page count comes from the answer: a count past any real watch list must not drive the load.
        if (page == MaxPages) {
            Log(Format("The watch list announces %d pages; the load stops after %d", {pageCount, MaxPages}),
                lmkWarning);
            incomplete = true;
            break;
        }
        ++page;
        FPagesRequested = page;
        FAPICall->WatchListPageNumber = page;
        TInternetStatus status = iyOK;
        TMemoryStream* response = nullptr;
        try {
            response = FAPICall->GetMyeBayBuying(status, mblWatchList);
        } catch (const std::exception& e) {
            if (!*FCancel) LogException(e, "TThreadGetMyEbayWatchlist.Execute");
            status = FailedStatus(status);
        }
        if (*FCancel) {
            FCanceled = true;
            break;
        }
        FCallSucceeded = InternetStatusSucceeded(status);
        if (FCallSucceeded) {
            const int before = FItems->Count();
            FParseSucceeded = FParser->ParseWatchList(response, *FItems, true);
            FParserResult = FParser->GetResultCode();
            if (!FParseSucceeded && !parseFailed) {
                parseFailed = true;
                firstParseFailure = FParserResult;
                firstParseFailureText = FParser->ResultMessage();
            }
            // A page without items ends the list; only the first may be empty, later ones were announced.
            if (FParseSucceeded && FItems->Count() == before) {
                if (page > 1) {
                    Log(Format("Page %d of the watch list brought no items", {page}), lmkWarning);
                    incomplete = true;
                }
                break;
            }
        } else {
            FErrorCode = status;
            if (firstCallFailure == iyOK) {
                firstCallFailure = status;
                firstCallFailureText = FAPICall->FailureMessage();
            }
        }
        pageCount = FParser->TotalNumberOfPages;
    }
    if (firstCallFailure != iyOK) {
        FCallSucceeded = false;
        FErrorCode = firstCallFailure;
        FErrorText = firstCallFailureText;
    } else if (parseFailed) {
        FParseSucceeded = false;
        FParserResult = firstParseFailure;
        FErrorText = firstParseFailureText;
    } else if (incomplete) {
        FParseSucceeded = false;
        FParserResult = TParserResultCode::prDataParseFailed;
    }
    if (firstCallFailure == iyOK && !FParseSucceeded && FErrorText.empty())
        FErrorText = GetParserResultMessage(TParserResultCode::prDataParseFailed);
    FComplete = !FCanceled && FCallSucceeded && FParseSucceeded;
}

void TThreadGetMyEbayWatchlist::Execute() {
    if (Terminated()) return;
    try {
        const TKovaGadgetDat& dat = RequireGadgetDat("TThreadGetMyEbayWatchlist.Execute");
        FAPICall = std::make_unique<TAPICallMyeBayBuying>(dat.EbayAPI().APIServerProduction);
        FParser = std::make_unique<TXMLMyEbayWatchListParser>();
        FCallSucceeded = false;
        if (PrepareCall()) RequestPages();
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.Execute");
    }
    FAPICall.reset();
    FParser.reset();
    // Without a single request the load has failed all the same, and the page must say so.
    if (!FRequestLoopStarted && FErrorCode == iyOK) FErrorCode = iyUnknown;
    try {
        if (FOnFinished) FOnFinished(*this);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.Execute");
    }
    Terminate();
}

// TThreadFetchToken

TThreadFetchToken::TThreadFetchToken() = default;

TThreadFetchToken::~TThreadFetchToken() {
    TerminateAndWait();
}

bool TThreadFetchToken::PrepareCall() {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadFetchToken.PrepareCall").EbayAPI();
        FillCredentials(*FAPICall, api, "TThreadFetchToken.PrepareCall");
        FAPICall->UserName = FUserName;
        FAPICall->CompatibilityLevel = 459;
        FAPICall->RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadFetchToken.PrepareCall");
        return false;
    }
}

void TThreadFetchToken::Execute() {
    if (Terminated()) return;
    struct TFreeCall {
        TThreadFetchToken& Thread;
        ~TFreeCall() {
            Thread.FAPICall.reset();
            Thread.FParser.reset();
            Thread.Terminate();
        }
    } freeCall{*this};
    FAPICall = std::make_unique<TAPICallFetchToken>(
        RequireGadgetDat("TThreadFetchToken.Execute").EbayAPI().APIServerProduction);
    FParser = std::make_unique<TXMLeBayFetchTokenParser>();
    FCallSucceeded = false;
    if (!PrepareCall()) return;
    FParseSucceeded = false;
    TInternetStatus status = iyOK;
    TMemoryStream* response = nullptr;
    try {
        FAPICall->SessionID = FSessionID;
        response = FAPICall->FetchToken(FUserName, FSecretID, status);
    } catch (const std::exception& e) {
        LogException(e, "TThreadFetchToken.Execute");
        status = FailedStatus(status);
    }
    FCallSucceeded = InternetStatusSucceeded(status);
    if (FCallSucceeded) {
        FParseSucceeded = FParser->ParseToken(response, FToken);
        FParserResult = FParser->GetResultCode();
    } else {
        FErrorCode = status;
        FErrorText = FAPICall->FailureMessage();
    }
}

// TThreadGetSessionID

TThreadGetSessionID::TThreadGetSessionID() = default;

TThreadGetSessionID::~TThreadGetSessionID() {
    TerminateAndWait();
}

bool TThreadGetSessionID::PrepareCall() {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadGetSessionID.PrepareCall").EbayAPI();
        FillCredentials(*FAPICall, api, "TThreadGetSessionID.PrepareCall");
        // The same level as FetchToken, whose flow this call begins.
        FAPICall->CompatibilityLevel = 459;
        FAPICall->RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.PrepareCall");
        return false;
    }
}

void TThreadGetSessionID::Execute() {
    if (Terminated()) return;
    struct TFreeCall {
        TThreadGetSessionID& Thread;
        ~TFreeCall() {
            Thread.FAPICall.reset();
            Thread.FParser.reset();
            Thread.Terminate();
        }
    } freeCall{*this};
    FCallSucceeded = false;
    try {
        FAPICall = std::make_unique<TAPICallGetSessionID>(
            RequireGadgetDat("TThreadGetSessionID.Execute").EbayAPI().APIServerProduction);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.Execute");
        FErrorCode = iyUnknown;
        return;
    }
    FParser = std::make_unique<TXMLeBaySessionIDParser>();
    if (!PrepareCall()) {
        FErrorCode = iyUnknown;
        return;
    }
    FParseSucceeded = false;
    TInternetStatus status = iyOK;
    TMemoryStream* response = nullptr;
    try {
        response = FAPICall->GetSessionID(FRuName, status);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.Execute");
        status = FailedStatus(status);
    }
    FCallSucceeded = InternetStatusSucceeded(status);
    if (FCallSucceeded) {
        FParseSucceeded = FParser->ParseSessionID(response, FSessionID);
        FParserResult = FParser->GetResultCode();
    } else {
        FErrorCode = status;
        FErrorText = FAPICall->FailureMessage();
    }
}
