#pragma once
// The gadget's settings file "KovaGadget.ini": its three sections and the process-wide manager that owns
// them.

#include "platform/UnitPlatformIni.h"
#include "storage/UnitIniFileClasses.h"
#include "support/UnitProxySettings.h"

#include <memory>
#include <mutex>
#include <string>

// A section of the gadget's own file; knows the gadget directory, against which side-file names resolve.
class TKovaIniFileSectionBase : public TIniFileSectionBase {
public:
    TKovaIniFileSectionBase(TIniFile& iniFile, std::string sectionName, const std::string& homeDirectory);
    // Always ends in a path delimiter (or is empty).
    const std::string& HomeDirectory() const { return FHomeDirectory; }

protected:
    std::string FHomeDirectory;
};

// Section "Proxy": the proxy choice; the credentials live in the encrypted file named by "ProxyDat".
class TIniFileSectionProxySettings : public TKovaIniFileSectionBase {
public:
    TIniFileSectionProxySettings(TIniFile& iniFile, const std::string& sectionName,
                                 const std::string& homeDirectory);

    bool UsesProxy() const;
    void SetUsesProxy(bool value);
    int Port() const;
    void SetPort(int value);
    std::string Server() const;
    void SetServer(const std::string& value);
    bool NeedsAuthentication() const;
    void SetNeedsAuthentication(bool value);
    // File name of the proxy credentials file; never written.
    std::string ProxyDat() const;

    ~TIniFileSectionProxySettings() override;

    // The two strings of the credentials file, or two empty strings when there is none or it cannot be read
    // (logged), so that storing new credentials replaces a damaged file.
    virtual void LoadProxyCredentials(std::string& userName, std::string& password);
    // Each rewrites the whole file with one new value and the other as stored. When StoreProxyPassword
    // fails right after a StoreProxyUserName, the file is put back as it was before that call, so the pair
    // never leaves only one of the new values behind.
    virtual void StoreProxyUserName(const std::string& userName);
    virtual void StoreProxyPassword(const std::string& password);
    // Writes a new credentials file (atomically, owner-only) with both values.
    void SaveProxyCredentials(const std::string& userName, const std::string& password);
    std::string ProxyUserName();
    std::string ProxyPassword();
    // Refills the section's record from the four keys and, only when "UsesProxy" and "NeedsAuthentication"
    // are both set, the credentials; returns a copy of it, so that a worker thread and the main thread may
    // both call it.
    TProxySettings GetProxySettings();

    // Where the credentials file is read from: the named file when its name has a folder part and it
    // exists, otherwise the name in the gadget directory.
    std::string CredentialsPathForReading() const;
    // Where it is written: the named file when its name has a folder part that exists, otherwise the name
    // in the gadget directory.
    std::string CredentialsPathForWriting() const;

protected:
    TProxySettings FProxySettings;

private:
    // What StoreProxyPassword needs to put the file back after a failure that follows a
    // StoreProxyUserName.
    struct TCredentialsUndo {
        bool Active = false;
        std::string Path;
        bool Existed = false;
        std::string KeptLink; // a second name of the previous file, or "" when none could be made
        std::string KeptBytes;
    };
    TCredentialsUndo KeepForUndo(const std::string& path);
    void DiscardUndo(TCredentialsUndo& undo);
    void RestoreUndo(TCredentialsUndo& undo);
    void SaveCredentialsTo(const std::string& path, const std::string& userName, const std::string& password);

    std::mutex FRecordLock;
    std::mutex FStoreLock;
    TCredentialsUndo FUndo;
};

// Section "Watchlist": how and when the watch list reloads and whether high bids are marked.
class TIniFileSectionWatchlist : public TKovaIniFileSectionBase {
public:
    using TKovaIniFileSectionBase::TKovaIniFileSectionBase;

    bool AuctionsAutomaticRefresh() const;
    void SetAuctionsAutomaticRefresh(bool value);
    bool AuctionsRefreshOnStart() const;
    void SetAuctionsRefreshOnStart(bool value);
    // Minutes; any 32-bit value is accepted on reading.
    int AuctionsRefreshTime() const;
    void SetAuctionsRefreshTime(int value);
    bool AuctionsMarkHighbidder() const;
    void SetAuctionsMarkHighbidder(bool value);
    // The reminder a load gives a watched auction that has none of its own: a RemindType, 0 (off) to 6.
    int AuctionsRemindDefault() const;
    void SetAuctionsRemindDefault(int value);
    // With automatic refresh: once a minute while an auction ends within 10 minutes, once after each end.
    bool AuctionsRefreshNearEnd() const;
    void SetAuctionsRefreshNearEnd(bool value);
    // The eBay calls a day that automatic refreshes may use, the user's own included: 1 to 1 000 000.
    int AuctionsCallBudget() const;
    void SetAuctionsCallBudget(int value);
    // The word of the order the rows follow ("ending" when absent); the watch list checks the word.
    std::string AuctionsSortOrder() const;
    void SetAuctionsSortOrder(const std::string& value);
};

// Section "CallBudget": the eBay calls of the day (eBay's day, midnight Pacific time) and the day eBay
// refused further calls, kept across restarts.
class TIniFileSectionCallBudget : public TKovaIniFileSectionBase {
public:
    using TKovaIniFileSectionBase::TKovaIniFileSectionBase;

    static constexpr int DefaultBudget = 4000;

    std::string Day() const;
    int Calls() const;
    std::string LimitDay() const;
    void Store(const std::string& day, int calls, const std::string& limitDay);
};

// Section "EBayLogin": names the encrypted login data file.
class TIniFileSectionEbayLoginData : public TKovaIniFileSectionBase {
public:
    using TKovaIniFileSectionBase::TKovaIniFileSectionBase;

    // File name of the login data file; never written.
    std::string EbayDat() const;

    // The three strings of the login data file, or three empty strings when there is none; the file's
    // read errors propagate.
    virtual void LoadLogInData(std::string& userName, std::string& password, std::string& token);
    // Writes a new login data file (atomically, owner-only) with the three values.
    virtual void SaveLogInData(const std::string& userName, const std::string& password,
                               const std::string& token);
    // Each rewrites the file with one new value and the other two as stored.
    virtual void StoreUserName(const std::string& userName);
    virtual void StorePassword(const std::string& password);
    virtual void StoreToken(const std::string& token);
    // Deletes the file if there is one; a failed deletion is ignored.
    void DeleteLogInData();
    std::string StoredUserName();
    std::string StoredPassword();

    // The named file when its name has a folder part and it exists, otherwise the name in the gadget
    // directory; the same for reading and writing.
    std::string LogInDataPath() const;
};

// Owns the open ini file and its three sections. Holds no cached values: every read goes to the file.
class TIniFileManager {
public:
    TIniFileManager(const std::string& fileName, const std::string& directory);
    ~TIniFileManager();
    TIniFileManager(const TIniFileManager&) = delete;
    TIniFileManager& operator=(const TIniFileManager&) = delete;

    TIniFileSectionProxySettings& ProxySettings() const { return *FProxySettings; }
    TIniFileSectionEbayLoginData& EbayLoginData() const { return *FEbayLoginData; }
    TIniFileSectionWatchlist& Watchlist() const { return *FWatchlist; }
    TIniFileSectionCallBudget& CallBudget() const { return *FCallBudget; }
    TIniFile& IniFile() const { return *FIniFile; }
    const std::string& HomeDirectory() const { return FHomeDirectory; }

    // The proxy settings of the "Proxy" section.
    TProxySettings GetProxySettings() const { return FProxySettings->GetProxySettings(); }

private:
    // Declared before the sections, which refer to it, so that it is freed after them.
    std::unique_ptr<TIniFile> FIniFile;
    std::unique_ptr<TIniFileSectionProxySettings> FProxySettings;
    std::unique_ptr<TIniFileSectionEbayLoginData> FEbayLoginData;
    std::unique_ptr<TIniFileSectionWatchlist> FWatchlist;
    std::unique_ptr<TIniFileSectionCallBudget> FCallBudget;
    std::string FHomeDirectory;
};

// Creates the manager for directory + fileName; does nothing when one exists already.
void InitIniFileManager(const std::string& fileName, const std::string& directory);
// The manager, or nullptr before InitIniFileManager and after FreeIniFileManager.
TIniFileManager* IniFileManager();
void FreeIniFileManager();
