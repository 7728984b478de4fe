#pragma once
// The eBay account a sign-in belongs to, as eBay names it: its user name and its immutable id. Kept beside
// the login data in a file of its own, encrypted and owner-only like the token, so that the login data file
// and the token file keep their formats.

#include "storage/UnitEncryptStream.h"

#include <string>

struct TEbayAccount {
    // eBay's user name of the account; it may change, and for some applications eBay gives an id in its
    // place.
    std::string Name;
    // eBay's immutable user id (the identity API's userId, the Trading API's EIASToken).
    std::string ID;

    bool Empty() const { return Name.empty() && ID.empty(); }
    bool operator==(const TEbayAccount&) const = default;
};

// Whether a HighBidder value names the user: the user name of the login data, the account's name or its
// immutable id, each as written.
bool IsUsersBidderID(const std::string& highBidder, const std::string& userName, const TEbayAccount& account);

// Field container of the account file: the login data's user name, then the account's name and id.
class TEncryptStreamEbayAccount : public TEncryptStreamBase {
public:
    std::string ClassName() const override { return "TEncryptStreamEbayAccount"; }
    void WriteFieldValues(TValueWriter& writer) override;
    void ReadFieldValues(TValueReader& reader) override;

    std::string UserName;
    TEbayAccount Account;
};

// The account file that belongs to the login data file at loginDataPath: "ebaccount.dat" in its folder.
std::string EbayAccountPath(const std::string& loginDataPath);
// The account saved for the user (letter case aside); empty when there is no file or it is another user's.
// Raises the container's errors for a file that cannot be read.
TEbayAccount LoadEbayAccount(const std::string& path, const std::string& userName);
// Replaces the file atomically, owner-only; an empty account deletes it instead.
void SaveEbayAccount(const std::string& path, const std::string& userName, const TEbayAccount& account);
void DeleteEbayAccount(const std::string& path);
