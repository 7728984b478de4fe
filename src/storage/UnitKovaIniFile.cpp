#include "storage/UnitKovaIniFile.h"

#include <atomic>
#include <climits>
#include <mutex>

namespace {

std::string WithTrailingDelimiter(const std::string& directory) {
    if (directory.empty() || directory.back() == '/') return directory;
    return directory + '/';
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

std::string TIniFileSectionEbayLoginData::EbayDat() const {
    return ReadString("EbayDat", "ebtmp.dat");
}

TIniFileManager::TIniFileManager(const std::string& fileName, const std::string& directory)
    : FHomeDirectory(directory) {
    FIniFile = std::make_unique<TIniFile>(directory + fileName);
    FProxySettings = std::make_unique<TIniFileSectionProxySettings>(*FIniFile, "Proxy", directory);
    FWatchlist = std::make_unique<TIniFileSectionWatchlist>(*FIniFile, "Watchlist", directory);
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
