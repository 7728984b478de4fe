#include "storage/UnitEbayAccount.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "support/UnitFileUtils.h"

bool IsUsersBidderID(const std::string& highBidder, const std::string& userName,
                     const TEbayAccount& account) {
    if (highBidder.empty()) return false;
    // eBay writes the names in their own spelling, so the account's name (as eBay gave it) matches as it is.
    return highBidder == userName || highBidder == account.Name || highBidder == account.ID;
}

void TEncryptStreamEbayAccount::WriteFieldValues(TValueWriter& writer) {
    writer.WriteString(UserName);
    writer.WriteString(Account.Name);
    writer.WriteString(Account.ID);
}

void TEncryptStreamEbayAccount::ReadFieldValues(TValueReader& reader) {
    UserName = reader.ReadString();
    Account.Name = reader.ReadString();
    Account.ID = reader.ReadString();
}

std::string EbayAccountPath(const std::string& loginDataPath) {
    return ExtractFilePath(loginDataPath) + "ebaccount.dat";
}

TEbayAccount LoadEbayAccount(const std::string& path, const std::string& userName) {
    if (!FileExists(path)) return {};
    TEncryptStreamEbayAccount stream;
    stream.LoadFromFileEncrypted(path);
    if (!SameText(Trim(stream.UserName), Trim(userName))) return {};
    return stream.Account;
}

void SaveEbayAccount(const std::string& path, const std::string& userName, const TEbayAccount& account) {
    if (account.Empty()) return DeleteEbayAccount(path);
    TEncryptStreamEbayAccount stream;
    stream.UserName = userName;
    stream.Account = account;
    stream.SaveToFileEncrypted(path, TFileAccess::OwnerOnly);
}

void DeleteEbayAccount(const std::string& path) {
    if (FileExists(path)) DeleteFile(path);
}
