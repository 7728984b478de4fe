#include "storage/UnitKovaIniFile.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitEbayAccount.h"
#include "storage/UnitEbayLoginDataDat.h"
#include "storage/UnitOAuthTokens.h"
#include "storage/UnitProxyDat.h"
#include "support/UnitLogging.h"

#include <atomic>
#include <climits>
#include <mutex>
#include <utility>

namespace {

std::string WithTrailingDelimiter(const std::string& directory) {
    if (directory.empty() || directory.back() == '/') return directory;
    return directory + '/';
}

// The part of a side-file name before its last path delimiter; a part of blanks counts as none.
std::string DirectoryPart(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return "";
    std::string part = name.substr(0, slash);
    return Trim(part).empty() ? "" : part;
}

// Side files named without a folder, or not found where their name points, live in the gadget directory.
std::string SideFilePathForReading(const std::string& name, const std::string& homeDirectory) {
    if (DirectoryPart(name).empty() || !FileExists(name)) return homeDirectory + name;
    return name;
}

} // namespace

TKovaIniFileSectionBase::TKovaIniFileSectionBase(TIniFile& iniFile, std::string sectionName,
                                                 const std::string& homeDirectory)
    : TIniFileSectionBase(iniFile, std::move(sectionName), "|"),
      FHomeDirectory(WithTrailingDelimiter(homeDirectory)) {
}

TIniFileSectionProxySettings::TIniFileSectionProxySettings(TIniFile& iniFile, const std::string& sectionName,
                                                           const std::string& homeDirectory)
    : TKovaIniFileSectionBase(iniFile, sectionName, homeDirectory) {
}

bool TIniFileSectionProxySettings::UsesProxy() const {
    return ReadBool("UsesProxy", false);
}
void TIniFileSectionProxySettings::SetUsesProxy(bool value) {
    WriteBool("UsesProxy", value, false);
}
int TIniFileSectionProxySettings::Port() const {
    return ReadInteger("Port", 0, 0, INT_MAX);
}
void TIniFileSectionProxySettings::SetPort(int value) {
    WriteInteger("Port", value, 0);
}
std::string TIniFileSectionProxySettings::Server() const {
    return ReadString("Server", "");
}
void TIniFileSectionProxySettings::SetServer(const std::string& value) {
    WriteString("Server", value, "");
}
bool TIniFileSectionProxySettings::NeedsAuthentication() const {
    return ReadBool("NeedsAuthentication", false);
}
void TIniFileSectionProxySettings::SetNeedsAuthentication(bool value) {
    WriteBool("NeedsAuthentication", value, false);
}
std::string TIniFileSectionProxySettings::ProxyDat() const {
    return ReadString("ProxyDat", "proxy.dat");
}

TIniFileSectionProxySettings::~TIniFileSectionProxySettings() {
    DiscardUndo(FUndo);
}

std::string TIniFileSectionProxySettings::CredentialsPathForReading() const {
    return SideFilePathForReading(ProxyDat(), FHomeDirectory);
}

std::string TIniFileSectionProxySettings::CredentialsPathForWriting() const {
    const std::string name = ProxyDat();
    const std::string directory = DirectoryPart(name);
    if (directory.empty() || !DirectoryExists(directory)) return FHomeDirectory + name;
    return name;
}

void TIniFileSectionProxySettings::LoadProxyCredentials(std::string& userName, std::string& password) {
    const std::string path = CredentialsPathForReading();
    if (!FileExists(path)) {
        userName.clear();
        password.clear();
        return;
    }
    TProxyDat dat;
    try {
        dat.LoadFromFile(path);
    } catch (const std::exception& e) {
        // A damaged file must not stop loads or keep the user from storing new credentials over it.
        LogFmt("Proxy credentials file %s could not be read, taken as empty: %s",
               {path, std::string(e.what())}, lmkWarning);
        userName.clear();
        password.clear();
        return;
    }
    userName = dat.UserName();
    password = dat.Password();
}

void TIniFileSectionProxySettings::SaveCredentialsTo(const std::string& path, const std::string& userName,
                                                     const std::string& password) {
    TProxyDat dat;
    dat.SetUserName(userName);
    dat.SetPassword(password);
    dat.SaveToFile(path);
}

void TIniFileSectionProxySettings::SaveProxyCredentials(const std::string& userName,
                                                        const std::string& password) {
    std::lock_guard lock(FStoreLock);
    DiscardUndo(FUndo);
    SaveCredentialsTo(CredentialsPathForWriting(), userName, password);
}

void TIniFileSectionProxySettings::StoreProxyUserName(const std::string& userName) {
    std::lock_guard lock(FStoreLock);
    DiscardUndo(FUndo);
    std::string oldUserName, oldPassword;
    LoadProxyCredentials(oldUserName, oldPassword);
    const std::string path = CredentialsPathForWriting();
    TCredentialsUndo undo = KeepForUndo(path);
    try {
        SaveCredentialsTo(path, userName, oldPassword);
    } catch (...) {
        DiscardUndo(undo);
        throw;
    }
    FUndo = std::move(undo);
}

void TIniFileSectionProxySettings::StoreProxyPassword(const std::string& password) {
    std::lock_guard lock(FStoreLock);
    TCredentialsUndo undo = std::exchange(FUndo, TCredentialsUndo());
    try {
        std::string oldUserName, oldPassword;
        LoadProxyCredentials(oldUserName, oldPassword);
        SaveCredentialsTo(CredentialsPathForWriting(), oldUserName, password);
    } catch (...) {
        RestoreUndo(undo);
        throw;
    }
    DiscardUndo(undo);
}

std::string TIniFileSectionProxySettings::ProxyUserName() {
    std::string userName, password;
    LoadProxyCredentials(userName, password);
    return userName;
}

std::string TIniFileSectionProxySettings::ProxyPassword() {
    std::string userName, password;
    LoadProxyCredentials(userName, password);
    return password;
}

TProxySettings TIniFileSectionProxySettings::GetProxySettings() {
    TProxySettings record;
    record.UsesProxy = UsesProxy();
    record.Port = Port();
    record.Server = Server();
    record.NeedsAuthentication = NeedsAuthentication();
    // Credentials matter only to a proxy that asks for them; without one the file is never touched.
    if (record.UsesProxy && record.NeedsAuthentication)
        LoadProxyCredentials(record.UserName, record.Password);
    std::lock_guard lock(FRecordLock);
    FProxySettings.Assign(&record);
    return FProxySettings;
}

TIniFileSectionProxySettings::TCredentialsUndo
TIniFileSectionProxySettings::KeepForUndo(const std::string& path) {
    TCredentialsUndo undo;
    undo.Path = path;
    undo.Existed = FileExists(path);
    if (!undo.Existed) {
        undo.Active = true;
        return undo;
    }
    // A second name keeps the previous file without writing anything, so it can be put back even on a
    // full disk; its bytes in memory are the fallback where links are not possible.
    undo.Active = TryReadFileBytes(path, undo.KeptBytes);
    const std::string link = path + ".undo";
    if (CreateHardLink(path, link)) {
        undo.KeptLink = link;
        undo.Active = true;
    }
    return undo;
}

void TIniFileSectionProxySettings::DiscardUndo(TCredentialsUndo& undo) {
    if (!undo.KeptLink.empty()) DeleteFile(undo.KeptLink);
    undo = TCredentialsUndo();
}

void TIniFileSectionProxySettings::RestoreUndo(TCredentialsUndo& undo) {
    if (!undo.Active) return;
    bool restored;
    if (!undo.Existed) {
        restored = DeleteFile(undo.Path);
    } else if (!undo.KeptLink.empty() && RenameFile(undo.KeptLink, undo.Path)) {
        undo.KeptLink.clear();
        restored = true;
    } else {
        try {
            WriteFileAtomic(undo.Path, undo.KeptBytes, TFileAccess::OwnerOnly, TFileKeep::Durable);
            restored = true;
        } catch (const std::exception& e) {
            LogException(e, "TIniFileSectionProxySettings.StoreProxyPassword");
            restored = false;
        }
    }
    if (!restored) LogFmt("Proxy credentials file %s could not be put back", {undo.Path}, lmkError);
    DiscardUndo(undo);
}

bool TIniFileSectionWatchlist::AuctionsAutomaticRefresh() const {
    return ReadBool("AuctionsAutomaticRefresh", false);
}
void TIniFileSectionWatchlist::SetAuctionsAutomaticRefresh(bool value) {
    WriteBool("AuctionsAutomaticRefresh", value, false);
}
bool TIniFileSectionWatchlist::AuctionsRefreshOnStart() const {
    return ReadBool("AuctionsRefreshOnStart", true);
}
void TIniFileSectionWatchlist::SetAuctionsRefreshOnStart(bool value) {
    WriteBool("AuctionsRefreshOnStart", value, true);
}
int TIniFileSectionWatchlist::AuctionsRefreshTime() const {
    return ReadInteger("AuctionsRefreshTime", 0, INT_MIN, INT_MAX);
}
void TIniFileSectionWatchlist::SetAuctionsRefreshTime(int value) {
    WriteInteger("AuctionsRefreshTime", value, 0);
}
bool TIniFileSectionWatchlist::AuctionsMarkHighbidder() const {
    return ReadBool("AuctionsMarkHighbidder", true);
}
void TIniFileSectionWatchlist::SetAuctionsMarkHighbidder(bool value) {
    WriteBool("AuctionsMarkHighbidder", value, true);
}

int TIniFileSectionWatchlist::AuctionsRemindDefault() const {
    return ReadInteger("AuctionsRemindDefault", 0, 0, 6);
}
void TIniFileSectionWatchlist::SetAuctionsRemindDefault(int value) {
    WriteInteger("AuctionsRemindDefault", value, 0);
}
bool TIniFileSectionWatchlist::AuctionsRefreshNearEnd() const {
    return ReadBool("AuctionsRefreshNearEnd", true);
}
void TIniFileSectionWatchlist::SetAuctionsRefreshNearEnd(bool value) {
    WriteBool("AuctionsRefreshNearEnd", value, true);
}
int TIniFileSectionWatchlist::AuctionsCallBudget() const {
    return ReadInteger("AuctionsCallBudget", TIniFileSectionCallBudget::DefaultBudget, 1, 1000000);
}
void TIniFileSectionWatchlist::SetAuctionsCallBudget(int value) {
    WriteInteger("AuctionsCallBudget", value, TIniFileSectionCallBudget::DefaultBudget);
}

std::string TIniFileSectionCallBudget::Day() const {
    return ReadString("Day", "");
}
int TIniFileSectionCallBudget::Calls() const {
    return ReadInteger("Calls", 0, 0, INT_MAX);
}
std::string TIniFileSectionWatchlist::AuctionsSortOrder() const {
    return ReadString("AuctionsSortOrder", "ending");
}
void TIniFileSectionWatchlist::SetAuctionsSortOrder(const std::string& value) {
    WriteString("AuctionsSortOrder", value, "ending");
}

std::string TIniFileSectionCallBudget::LimitDay() const {
    return ReadString("LimitDay", "");
}
void TIniFileSectionCallBudget::Store(const std::string& day, int calls, const std::string& limitDay) {
    WriteString("Day", day, "");
    WriteInteger("Calls", calls, 0);
    WriteString("LimitDay", limitDay, "");
}

std::string TIniFileSectionEbayLoginData::EbayDat() const {
    return ReadString("EbayDat", "ebtmp.dat");
}

std::string TIniFileSectionEbayLoginData::LogInDataPath() const {
    return SideFilePathForReading(EbayDat(), FHomeDirectory);
}

void TIniFileSectionEbayLoginData::LoadLogInData(std::string& userName, std::string& password,
                                                 std::string& token) {
    const std::string path = LogInDataPath();
    if (!FileExists(path)) {
        userName.clear();
        password.clear();
        token.clear();
        return;
    }
    TEbayLoginDataDat dat;
    dat.LoadFromFile(path);
    userName = dat.UserName();
    password = dat.Password();
    token = dat.Token();
}

void TIniFileSectionEbayLoginData::SaveLogInData(const std::string& userName, const std::string& password,
                                                 const std::string& token) {
    TEbayLoginDataDat dat;
    dat.SetUserName(userName);
    dat.SetPassword(password);
    dat.SetToken(token);
    dat.SaveToFile(LogInDataPath());
}

void TIniFileSectionEbayLoginData::StoreUserName(const std::string& userName) {
    std::string oldUserName, password, token;
    LoadLogInData(oldUserName, password, token);
    SaveLogInData(userName, password, token);
}

void TIniFileSectionEbayLoginData::StorePassword(const std::string& password) {
    std::string userName, oldPassword, token;
    LoadLogInData(userName, oldPassword, token);
    SaveLogInData(userName, password, token);
}

void TIniFileSectionEbayLoginData::StoreToken(const std::string& token) {
    std::string userName, password, oldToken;
    LoadLogInData(userName, password, oldToken);
    SaveLogInData(userName, password, token);
}

void TIniFileSectionEbayLoginData::DeleteLogInData() {
    const std::string path = LogInDataPath();
    if (FileExists(path)) DeleteFile(path);
    // The OAuth tokens belong to the login data and go with them.
    DeleteOAuthTokens(OAuthTokensPath(path));
    DeleteEbayAccount(EbayAccountPath(path));
}

std::string TIniFileSectionEbayLoginData::StoredUserName() {
    std::string userName, password, token;
    LoadLogInData(userName, password, token);
    return userName;
}

std::string TIniFileSectionEbayLoginData::StoredPassword() {
    std::string userName, password, token;
    LoadLogInData(userName, password, token);
    return password;
}

TIniFileManager::TIniFileManager(const std::string& fileName, const std::string& directory)
    : FHomeDirectory(directory) {
    FIniFile = std::make_unique<TIniFile>(directory + fileName);
    FProxySettings = std::make_unique<TIniFileSectionProxySettings>(*FIniFile, "Proxy", directory);
    FWatchlist = std::make_unique<TIniFileSectionWatchlist>(*FIniFile, "Watchlist", directory);
    FCallBudget = std::make_unique<TIniFileSectionCallBudget>(*FIniFile, "CallBudget", directory);
    FEbayLoginData = std::make_unique<TIniFileSectionEbayLoginData>(*FIniFile, "EBayLogin", directory);
}

TIniFileManager::~TIniFileManager() = default;

namespace {

std::mutex GManagerLock;
std::unique_ptr<TIniFileManager> GManagerOwner;
// Worker threads read the accessor while the main thread may create or free the manager.
std::atomic<TIniFileManager*> GManager{nullptr};

} // namespace

void InitIniFileManager(const std::string& fileName, const std::string& directory) {
    std::lock_guard lock(GManagerLock);
    if (GManagerOwner) return;
    GManagerOwner = std::make_unique<TIniFileManager>(fileName, directory);
    GManager = GManagerOwner.get();
}

TIniFileManager* IniFileManager() {
    return GManager;
}

void FreeIniFileManager() {
    std::lock_guard lock(GManagerLock);
    GManager = nullptr;
    GManagerOwner.reset();
}
