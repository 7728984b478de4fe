#include "host/KovaGadgetUnit.h"

#include "base/UnitUtils.h"
#include "dialogs/FormKovaApplicationKeys.h"
#include "dialogs/FormKovaEbayLogInData.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "dialogs/FormKovaGadgetOptions.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

namespace {

constexpr const char* SSLLibraryFileName = "ssleay32.dll";
constexpr int TerminateGraceMs = 1000;
// A token or session thread of a closed wizard ends within its transfer deadline; Terminate waits that long
// at most before it frees the application data those threads read.
constexpr int WorkerWaitMs = 60000;
const char* const SLogInDataUnreadable =
    "<B>The saved login data could not be read and will be asked for again.</B>";

const char* const SNotStarted = "The gadget could not start: %s";

// Clears the flag when LoadWatchlist ends, however it ends.
struct TFlagScope {
    std::atomic<bool>& Flag;
    explicit TFlagScope(std::atomic<bool>& flag) : Flag(flag) { Flag = true; }
    ~TFlagScope() { Flag = false; }
};

} // namespace

bool TDLLHelperClass::SetSSLDllDirectory(const std::string& /*fileName*/, const std::string& /*directory*/,
                                         bool /*reset*/) {
    return true;
}

TKovaGadget::TKovaGadget() : FSelf(std::make_shared<TKovaGadget*>(this)) {
    InstallLogInDataPrompt();
}

TKovaGadget::~TKovaGadget() {
    *FSelf = nullptr;
    // A running load's completion still reaches FRejectedLock: the manager waits for it while that lives.
    FWatchList.reset();
}

TKovaWatchList& TKovaGadget::RequireWatchList(const char* location) const {
    if (!FInitFailure.empty()) throw Exception(FInitFailure);
    if (!FWatchList)
        throw Exception(std::string(location) + ": the control is not initialised; call Init first");
    return *FWatchList;
}

TIniFileManager& TKovaGadget::RequireSettings(const char* location) const {
    if (!FInitFailure.empty()) throw Exception(FInitFailure);
    TIniFileManager* settings = IniFileManager();
    if (!settings) throw Exception(std::string(location) + ": the settings are not loaded; call Init first");
    return *settings;
}

void TKovaGadget::Init(const std::string& iGadgetPath) {
    FInitFailure.clear();
    try {
        FHomeDirectory = iGadgetPath;
        if (FHomeDirectory.empty() || FHomeDirectory.back() != '/') FHomeDirectory += '/';
        try {
            StartLogging(lgWarningsAndErrors, lgtrgtToFile, "");
            Log("Logging initialised.", lmkInfo);
        } catch (...) {
        }
        LogFmt("HomeDirectory: %s", {FHomeDirectory}, lmkInfo);
        FLogInInfo = std::make_unique<TEbayLogInInfo>();
        try {
            LoadGadgetDat(FHomeDirectory, "");
        } catch (const std::exception& e) {
            FInitFailure = GadgetDatFailureText(GadgetDatPath(FHomeDirectory, ""), e);
            throw;
        }
        InitIniFileManager("KovaGadget.ini", FHomeDirectory);
        FWatchList = std::make_unique<TKovaWatchList>();
        FWatchList->SetOnTokenRejected([this, self = FSelf](const std::string& token) {
            {
                std::lock_guard lock(FRejectedLock);
                FRejectedToken = token;
            }
            // The main thread clears it as soon as it gets to it; the next load would do so at the latest.
            MainThreadQueue().Post([self] {
                if (*self) (*self)->ForgetRejectedToken();
            });
        });
        FWatchList->SetOnOAuthTokens(
            [this, self = FSelf](const TOAuthTokens& before, const TOAuthTokens& after) {
                {
                    std::lock_guard lock(FRejectedLock);
                    FOAuthChanged = true;
                    FOAuthBefore = before;
                    FOAuthAfter = after;
                }
                MainThreadQueue().Post([self] {
                    if (*self) (*self)->TakeOAuthTokens();
                });
            });
        FWatchList->SetOnAccount([self = FSelf](const std::string& userName, const TEbayAccount& account) {
            MainThreadQueue().Post([self, userName, account] {
                if (*self) (*self)->TakeAccount(userName, account);
            });
        });
        FWatchList->SetHomeDirectory(FHomeDirectory);
        FWatchList->SetResultFileName(FHomeDirectory + "result.txt");
        FWatchList->LoadLocalItems();
        if (!TDLLHelperClass::SetSSLDllDirectory(SSLLibraryFileName, FHomeDirectory, false))
            Log("Error setting directory for SSL-DLL.", lmkError);
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.Init");
        // Init reports success to the page whatever happened: the calls after it say why they cannot work.
        if (FInitFailure.empty()) FInitFailure = Format(SNotStarted, {e.what()});
    }
}

void TKovaGadget::NextPage() {
    RequireWatchList("TKovaGadget.NextPage").NextPage();
}

void TKovaGadget::PrevPage() {
    RequireWatchList("TKovaGadget.PrevPage").PrevPage();
}

void TKovaGadget::FirstPage() {
    RequireWatchList("TKovaGadget.FirstPage").FirstPage();
}

void TKovaGadget::LastPage() {
    RequireWatchList("TKovaGadget.LastPage").LastPage();
}

void TKovaGadget::LoadWatchlist() {
    TKovaWatchList& watchList = RequireWatchList("TKovaGadget.LoadWatchlist");
    if (watchList.IsBusy()) return;
    // A call that arrives while an earlier one still shows a dialog would start a second load.
    if (FLoading) return;
    TFlagScope loading(FLoading);
    try {
        watchList.SetResultFileName(FHomeDirectory + "result.txt");
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.LoadWatchlist");
        return;
    }
    try {
        ForgetRejectedToken();
        TakeOAuthTokens();
        // Without the user's own application keys no sign-in can work: they are asked for first.
        if (TfrmKovaApplicationKeys::KeysMissing()) {
            if (!TfrmKovaApplicationKeys::Execute(GadgetDatPath(FHomeDirectory, ""))) {
                watchList.SetNotice(std::string("<B>") + HtmlEscape(ApplicationKeysNeededMessage) + "</B>");
                return;
            }
            // The keys are in: the notice that asked for them goes before the next step shows.
            ShowLogInDataNotice();
        }
        // A damaged file must not block every load: say so, and ask for the data again.
        const bool haveLogInData = FLogInInfo->CheckLogInData([this](const std::string& readError) {
            Log("Error reading the saved login data: " + readError, lmkError);
            ShowLogInDataNotice();
        });
        ShowLogInDataNotice();
        if (!haveLogInData) return;
        if (!Authorise()) return;
        try {
            SaveTokenIfStored(*FLogInInfo);
        } catch (const std::exception& e) {
            // The token still serves this session from memory.
            LogException(e, "TKovaGadget.LoadWatchlist");
        }
        watchList.StartLoading(*FLogInInfo);
    } catch (const std::exception& e) {
        // The page shows nothing for these; the log at least says why no load started.
        LogException(e, "TKovaGadget.LoadWatchlist");
    }
}

bool TKovaGadget::Authorise() {
    return TfrmKovaGadgetAuthorize::Authorise(
        FLogInInfo.get(), [this](const std::string& message) { FAuthErrorText = message; });
}

void TKovaGadget::ForgetRejectedToken() {
    std::string rejected;
    {
        std::lock_guard lock(FRejectedLock);
        std::swap(rejected, FRejectedToken);
    }
    if (rejected.empty() || !FLogInInfo || FLogInInfo->Token != rejected) return;
    FLogInInfo->Token.clear();
    try {
        SaveTokenIfStored(*FLogInInfo);
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.ForgetRejectedToken");
    }
}

void TKovaGadget::TakeOAuthTokens() {
    TOAuthTokens before, after;
    {
        std::lock_guard lock(FRejectedLock);
        if (!FOAuthChanged) return;
        FOAuthChanged = false;
        before = std::move(FOAuthBefore);
        after = std::move(FOAuthAfter);
    }
    // A sign-in since the load started brought tokens of its own, which stay.
    if (!FLogInInfo || FLogInInfo->OAuth.RefreshToken != before.RefreshToken) return;
    FLogInInfo->OAuth = after;
    try {
        SaveTokenIfStored(*FLogInInfo);
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.TakeOAuthTokens");
    }
}

void TKovaGadget::TakeAccount(const std::string& userName, const TEbayAccount& account) {
    // A sign-in since the load started learnt its own account.
    if (!FLogInInfo || !SameText(Trim(FLogInInfo->UserName), userName) || FLogInInfo->AccountCurrent) return;
    FLogInInfo->Account = account;
    FLogInInfo->AccountCurrent = true;
    try {
        SaveTokenIfStored(*FLogInInfo);
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.TakeAccount");
    }
}

void TKovaGadget::ShowLogInDataNotice() {
    // The message stands over every page while the damaged file does: new login data replace it.
    try {
        if (FWatchList && FLogInInfo)
            FWatchList->SetNotice(FLogInInfo->LogInDataUnreadable() ? SLogInDataUnreadable : "");
    } catch (const std::exception& e) {
        LogException(e, "TKovaGadget.LoadWatchlist");
    }
}

void TKovaGadget::ShowOptions() {
    TKovaWatchList& watchList = RequireWatchList("TKovaGadget.ShowOptions");
    ForgetRejectedToken();
    TakeOAuthTokens();
    const bool ok = TfrmKovaGadgetOptions::ExecuteOptions(TfrmKovaGadgetOptions::WatchlistPage,
                                                          FUpdatesAvailable, FLogInInfo.get());
    // Saved or deleted login data end the damaged file's message, even when the dialog was cancelled after
    // "Delete saved data now".
    ShowLogInDataNotice();
    if (!ok) return;
    watchList.SetUserName(FLogInInfo->UserName);
    watchList.WriteResultFile("");
}

void TKovaGadget::Terminate() {
    try {
        if (FWatchList) {
            // A load still running is stopped: the gadget closes now and keeps the list it showed.
            FWatchList->CancelLoading();
            FWatchList->WaitWhileBusy();
            FWatchList->SaveLocalItems();
        }
        ForgetRejectedToken();
        TakeOAuthTokens();
        // The threads of a closed wizard read the application data and settings freed below.
        if (IsMainThread())
            MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, WorkerWaitMs);
    } catch (...) {
    }
    try {
        FWatchList.reset();
        FLogInInfo.reset();
        FreeIniFileManager();
        FreeGadgetDat();
        FInitFailure.clear();
        StopLogging(true);
        TDLLHelperClass::SetSSLDllDirectory(SSLLibraryFileName, FHomeDirectory, true);
        // The grace time lets the logging thread and the finished worker end; the main queue keeps running
        // meanwhile so that their end-of-thread notifications can free them.
        if (IsMainThread())
            MainThreadQueue().RunUntil([] { return false; }, TerminateGraceMs);
        else
            SleepMs(TerminateGraceMs);
    } catch (...) {
    }
}

std::string TKovaGadget::LinkDownloadPage() const {
    if (!FInitFailure.empty()) throw Exception(FInitFailure);
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat) throw Exception("TKovaGadget.LinkDownloadPage: the application data are not loaded");
    return dat->Common().LINKDOWNLOADPAGE;
}

bool TKovaGadget::RefreshAuctionsAtStart() const {
    return RequireSettings("TKovaGadget.RefreshAuctionsAtStart").Watchlist().AuctionsRefreshOnStart();
}

int TKovaGadget::RefreshIntervalInMinutes() const {
    return RequireSettings("TKovaGadget.RefreshIntervalInMinutes").Watchlist().AuctionsRefreshTime();
}

bool TKovaGadget::RefreshAuctionsAutomatically() const {
    return RequireSettings("TKovaGadget.RefreshAuctionsAutomatically").Watchlist().AuctionsAutomaticRefresh();
}

bool TKovaGadget::BuildDetailsFileFor(const std::string& iArticleNr) {
    return RequireWatchList("TKovaGadget.BuildDetailsFileFor").BuildDetailsFile(iArticleNr);
}

bool TKovaGadget::IsWorking() const {
    return RequireWatchList("TKovaGadget.IsWorking").IsBusy() || FLoading;
}
