#pragma once
// The user's eBay login data: in memory for the control's lifetime, and on request in the encrypted login
// data file.

#include "storage/UnitEbayAccount.h"
#include "storage/UnitEbayLoginDataDat.h"
#include "storage/UnitOAuthTokens.h"

#include <functional>
#include <memory>
#include <string>

// The control's eBay user name, password and token. Main thread only.
class TEbayLogInInfo {
public:
    TEbayLogInInfo() = default;
    virtual ~TEbayLogInInfo() = default;
    TEbayLogInInfo(const TEbayLogInInfo&) = delete;
    TEbayLogInInfo& operator=(const TEbayLogInInfo&) = delete;

    // Empties the values and the OAuth tokens and deletes the login data file with the token file.
    virtual void Clear();
    // True when login data are at hand: from the file, from memory, or typed into the login data prompt.
    // The file's read errors propagate. A user name typed into the prompt that names another account than
    // before clears the token, which belongs to the old one.
    bool CheckLogInData();
    // The same, except that a file that cannot be read counts as none: onReadError hears its error message
    // before the prompt is shown, and the prompt's choice replaces or deletes the file. A file that could not
    // be read is not read again while it stays as it was, and onReadError hears of it only once.
    bool CheckLogInData(const std::function<void(const std::string& message)>& onReadError);
    // Whether the login data file still holds what CheckLogInData could not read; false once it was
    // replaced or deleted.
    bool LogInDataUnreadable() const;

    std::string Token;
    std::string UserName;
    std::string Password;
    // The tokens of an OAuth sign-in; they belong to UserName and go wherever the design's token goes.
    TOAuthTokens OAuth;
    // The eBay account the token belongs to, as eBay last told it; saved and deleted with the token.
    TEbayAccount Account;
    // Whether Account was learnt from eBay in this run (by the wizard or the lookup of a load), so that a
    // load need not ask again.
    bool AccountCurrent = false;

private:
    bool CheckLogInData(const std::function<void(const std::string&)>* onReadError);

    // The bytes of the login data file that could not be read; empty when there are none.
    std::string FUnreadableBytes;
    bool FUnreadable = false;
};

// When the file holds a user name and a password beyond blanks, rewrites it with the login info's values,
// so that the token is kept, and saves the OAuth tokens beside it (deleting their file when there are none);
// otherwise, and while the file is one the login info found unreadable, the tokens stay in memory only.
void SaveTokenIfStored(const TEbayLogInInfo& logInInfo);

// Asks the user for login data: user name in and out, password out, save choice in and out (0 discard when
// the application closes, 1 save encrypted). True when the user confirmed.
using TLogInDataPrompt = std::function<bool(std::string& userName, std::string& password, int& saveChoice)>;
// The dialogs install the login data dialog at start-up; without a prompt every request is cancelled.
// Returns the previous prompt.
TLogInDataPrompt SetLogInDataPrompt(TLogInDataPrompt prompt);
