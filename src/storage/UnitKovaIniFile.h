#pragma once
// The gadget's settings file "KovaGadget.ini": its three sections and the process-wide manager that owns
// them.

#include "platform/UnitPlatformIni.h"
#include "storage/UnitIniFileClasses.h"
#include "storage/UnitProxySettings.h"

#include <memory>
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

    // To come with the proxy credentials file: LoadProxyCredentials, StoreProxyUserName, StoreProxyPassword
    // (virtual, in that order), SaveProxyCredentials, ProxyUserName, ProxyPassword, and GetProxySettings,
    // which refills FProxySettings from the four keys above and the credentials.

protected:
    TProxySettings FProxySettings;
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
};

// Section "EBayLogin": names the encrypted login data file.
class TIniFileSectionEbayLoginData : public TKovaIniFileSectionBase {
public:
    using TKovaIniFileSectionBase::TKovaIniFileSectionBase;

    // File name of the login data file; never written.
    std::string EbayDat() const;

    // To come with the login data file: LoadLogInData, SaveLogInData, StoreUserName, StorePassword,
    // StoreToken (virtual, in that order), DeleteLogInData, StoredUserName and StoredPassword.
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
    TIniFile& IniFile() const { return *FIniFile; }
    const std::string& HomeDirectory() const { return FHomeDirectory; }

    // To come with the proxy credentials file: GetProxySettings, handing on that of the "Proxy" section.

private:
    // Declared before the sections, which refer to it, so that it is freed after them.
    std::unique_ptr<TIniFile> FIniFile;
    std::unique_ptr<TIniFileSectionProxySettings> FProxySettings;
    std::unique_ptr<TIniFileSectionEbayLoginData> FEbayLoginData;
    std::unique_ptr<TIniFileSectionWatchlist> FWatchlist;
    std::string FHomeDirectory;
};

// Creates the manager for directory + fileName; does nothing when one exists already.
void InitIniFileManager(const std::string& fileName, const std::string& directory);
// The manager, or nullptr before InitIniFileManager and after FreeIniFileManager.
TIniFileManager* IniFileManager();
void FreeIniFileManager();
