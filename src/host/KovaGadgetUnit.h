#pragma once
// The gadget control: the object the host page creates and calls (host/KovaGadgetMembers.h dispatches to
// it by name or DISPID).

#include "base/UnitExceptions.h"
#include "storage/UnitEbayAccount.h"
#include "storage/UnitOAuthTokens.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

class TEbayLogInInfo;
class TIniFileManager;
class TKovaWatchList;

// Points the library search at the gadget directory for the TLS library.
class TDLLHelperClass {
public:
    // Only Windows of the NT family has a DLL search directory; everywhere else this does nothing and
    // reports success.
    static bool SetSSLDllDirectory(const std::string& fileName, const std::string& directory, bool reset);
};

// The control. Every member runs on the main thread; LoadWatchlist continues on a worker thread, whose end
// IsWorking reports.
class TKovaGadget {
public:
    TKovaGadget();
    ~TKovaGadget();
    TKovaGadget(const TKovaGadget&) = delete;
    TKovaGadget& operator=(const TKovaGadget&) = delete;

    void Init(const std::string& iGadgetPath);
    bool Undocked() const { return FUndocked; }
    void SetUndocked(bool value) { FUndocked = value; }
    void NextPage();
    void PrevPage();
    void LoadWatchlist();
    void ShowOptions();
    void Terminate();
    void FirstPage();
    void LastPage();
    bool UpdatesAvailable() const { return FUpdatesAvailable; }
    void SetUpdatesAvailable(bool value) { FUpdatesAvailable = value; }
    std::string LinkDownloadPage() const;
    bool RefreshAuctionsAtStart() const;
    int RefreshIntervalInMinutes() const;
    bool RefreshAuctionsAutomatically() const;
    bool BuildDetailsFileFor(const std::string& iArticleNr);
    // Reads atomic flags only: after a whole Init and before Terminate, any thread may ask.
    bool IsWorking() const;

    const std::string& HomeDirectory() const { return FHomeDirectory; }
    const std::string& AuthErrorText() const { return FAuthErrorText; }
    // Null before Init and after Terminate.
    TKovaWatchList* WatchList() const { return FWatchList.get(); }
    TEbayLogInInfo* LogInInfo() const { return FLogInInfo.get(); }

private:
    TKovaWatchList& RequireWatchList(const char* location) const;
    TIniFileManager& RequireSettings(const char* location) const;
    // Makes sure a token exists: runs the authorisation wizard when there is none, keeping its error text.
    bool Authorise();
    // Clears a token that eBay refused, in memory and in the saved login data (main thread).
    void ForgetRejectedToken();
    // Takes the OAuth tokens a load renewed or lost into the login info and the saved tokens (main thread).
    void TakeOAuthTokens();
    // Keeps the account a load learnt from eBay beside the token, when it is still the same user's.
    void TakeAccount(const std::string& userName, const TEbayAccount& account);
    // Shows the unreadable login data file's message above the list while that file stays.
    void ShowLogInDataNotice();

    std::unique_ptr<TEbayLogInInfo> FLogInInfo;
    std::string FHomeDirectory;
    bool FUpdatesAvailable = false;
    std::unique_ptr<TKovaWatchList> FWatchList;
    bool FUndocked = false;
    std::string FAuthErrorText;
    // Why the last Init could not set the control up; every call that needs what it makes says so.
    std::string FInitFailure;
    std::atomic<bool> FLoading{false};
    // The token the last load found refused; set on the load's worker thread.
    std::mutex FRejectedLock;
    std::string FRejectedToken;
    // The OAuth tokens a load started with and what became of them, until TakeOAuthTokens takes them.
    bool FOAuthChanged = false;
    TOAuthTokens FOAuthBefore, FOAuthAfter;
    // Lets a task that the load's worker posts find the control, or learn that it is gone (main thread).
    std::shared_ptr<TKovaGadget*> FSelf;
};

// A value crossing the dispatch: empty, boolean, 32-bit integer or text.
using TKovaVariant = std::variant<std::monostate, bool, int, std::string>;
