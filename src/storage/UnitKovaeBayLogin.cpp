#include "storage/UnitKovaeBayLogin.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "support/UnitLogging.h"

#include <mutex>

namespace {

std::mutex GPromptLock;
TLogInDataPrompt GPrompt;

bool RunLogInDataPrompt(std::string& userName, std::string& password, int& saveChoice) {
    TLogInDataPrompt prompt;
    {
        std::lock_guard lock(GPromptLock);
        prompt = GPrompt;
    }
    return prompt && prompt(userName, password, saveChoice);
}

// The login data file is reached through the settings; without them nothing can be loaded or saved, and
// answering "no stored data" would let a save choice go unheeded.
TIniFileSectionEbayLoginData& LoginSection(const char* location) {
    TIniFileManager* manager = IniFileManager();
    if (!manager) throw Exception(std::string(location) + ": the settings are not initialised");
    return manager->EbayLoginData();
}

bool BothGiven(const std::string& userName, const std::string& password) {
    return !Trim(userName).empty() && !Trim(password).empty();
}

// A token file that cannot be read holds no tokens: the next sign-in replaces it.
TOAuthTokens StoredOAuthTokens(TIniFileSectionEbayLoginData& section, const std::string& userName) {
    try {
        return LoadOAuthTokens(OAuthTokensPath(section.LogInDataPath()), userName);
    } catch (const std::exception& e) {
        LogException(e, "TEbayLogInInfo.CheckLogInData");
        return {};
    }
}

// An account file that cannot be read holds no account: the next lookup replaces it.
TEbayAccount StoredAccount(TIniFileSectionEbayLoginData& section, const std::string& userName) {
    try {
        return LoadEbayAccount(EbayAccountPath(section.LogInDataPath()), userName);
    } catch (const std::exception& e) {
        LogException(e, "TEbayLogInInfo.CheckLogInData");
        return {};
    }
}

} // namespace

TLogInDataPrompt SetLogInDataPrompt(TLogInDataPrompt prompt) {
    std::lock_guard lock(GPromptLock);
    std::swap(GPrompt, prompt);
    return prompt;
}

void TEbayLogInInfo::Clear() {
    Token.clear();
    UserName.clear();
    Password.clear();
    OAuth = {};
    Account = {};
    AccountCurrent = false;
    LoginSection("TEbayLogInInfo.Clear").DeleteLogInData();
}

bool TEbayLogInInfo::CheckLogInData() {
    return CheckLogInData(nullptr);
}

bool TEbayLogInInfo::CheckLogInData(const std::function<void(const std::string& message)>& onReadError) {
    return CheckLogInData(&onReadError);
}

bool TEbayLogInInfo::LogInDataUnreadable() const {
    if (!FUnreadable) return false;
    TIniFileManager* manager = IniFileManager();
    std::string bytes;
    return manager && TryReadFileBytes(manager->EbayLoginData().LogInDataPath(), bytes) &&
           bytes == FUnreadableBytes;
}

bool TEbayLogInInfo::CheckLogInData(const std::function<void(const std::string&)>* onReadError) {
    TIniFileSectionEbayLoginData& section = LoginSection("TEbayLogInInfo.CheckLogInData");
    std::string storedUserName, storedPassword, storedToken;
    // The file that could not be read stays unread until something replaces it: every load would only log
    // the same error again.
    if (!onReadError || !LogInDataUnreadable()) {
        FUnreadable = false;
        FUnreadableBytes.clear();
        try {
            section.LoadLogInData(storedUserName, storedPassword, storedToken);
        } catch (const std::exception& e) {
            if (!onReadError) throw;
            FUnreadable = TryReadFileBytes(section.LogInDataPath(), FUnreadableBytes);
            if (*onReadError) (*onReadError)(e.what());
            storedUserName.clear();
            storedPassword.clear();
            storedToken.clear();
        }
    }
    if (BothGiven(storedUserName, storedPassword)) {
        UserName = storedUserName;
        Password = storedPassword;
        Token = storedToken;
        OAuth = StoredOAuthTokens(section, storedUserName);
        if (!AccountCurrent) Account = StoredAccount(section, storedUserName);
        return true;
    }
    if (BothGiven(UserName, Password)) return true;

    std::string userName = UserName, password = Password;
    int saveChoice = 0;
    if (!RunLogInDataPrompt(userName, password, saveChoice)) return false;
    if (!SameText(Trim(userName), Trim(UserName))) {
        Token.clear();
        OAuth = {};
        Account = {};
        AccountCurrent = false;
        DeleteOAuthTokens(OAuthTokensPath(section.LogInDataPath()));
        DeleteEbayAccount(EbayAccountPath(section.LogInDataPath()));
    }
    UserName = userName;
    Password = password;
    if (saveChoice == 0)
        section.DeleteLogInData();
    else if (saveChoice == 1)
        section.SaveLogInData(UserName, Password, "");
    return true;
}

void SaveTokenIfStored(const TEbayLogInInfo& logInInfo) {
    TIniFileSectionEbayLoginData& section = LoginSection("SaveTokenIfStored");
    // An unreadable file holds no login data to keep the token with; only new login data replace it.
    if (logInInfo.LogInDataUnreadable()) return;
    std::string userName, password, token;
    section.LoadLogInData(userName, password, token);
    if (BothGiven(userName, password)) {
        section.SaveLogInData(logInInfo.UserName, logInInfo.Password, logInInfo.Token);
        SaveOAuthTokens(OAuthTokensPath(section.LogInDataPath()), logInInfo.UserName, logInInfo.OAuth);
        // The account goes with the token: without a token it names nobody's sign-in.
        const bool signedIn = !logInInfo.Token.empty() || !logInInfo.OAuth.RefreshToken.empty();
        SaveEbayAccount(EbayAccountPath(section.LogInDataPath()), logInInfo.UserName,
                        signedIn ? logInInfo.Account : TEbayAccount{});
    }
}
