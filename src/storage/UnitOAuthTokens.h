#pragma once
// The OAuth tokens of a user who signs in with OAuth: kept in memory with the login data and, like the
// design's token, saved encrypted and owner-only beside the login data file when the user keeps those.

#include "base/UnitDateTime.h"
#include "storage/UnitEncryptStream.h"

#include <string>

struct TOAuthTokens {
    std::string AccessToken;
    // UTC; 0 when unknown, which counts as ended.
    TDateTime AccessTokenExpires = 0;
    std::string RefreshToken;
    TDateTime RefreshTokenExpires = 0;

    bool Empty() const { return AccessToken.empty() && RefreshToken.empty(); }
    // Whether the access token is missing or ends within marginSeconds of now (UTC).
    bool AccessTokenDue(TDateTime nowUTC, int marginSeconds) const;
    bool operator==(const TOAuthTokens&) const = default;
};

// Field container of the OAuth token file: the user the tokens belong to, then the tokens.
class TEncryptStreamOAuthTokens : public TEncryptStreamBase {
public:
    std::string ClassName() const override { return "TEncryptStreamOAuthTokens"; }
    void WriteFieldValues(TValueWriter& writer) override;
    void ReadFieldValues(TValueReader& reader) override;

    std::string UserName;
    TOAuthTokens Tokens;
};

// The token file that belongs to the login data file at loginDataPath: "eboauth.dat" in its folder.
std::string OAuthTokensPath(const std::string& loginDataPath);
// The tokens saved for the user (letter case aside); empty when there is no file or it holds another user's.
// Raises the container's errors for a file that cannot be read.
TOAuthTokens LoadOAuthTokens(const std::string& path, const std::string& userName);
// Replaces the file atomically, owner-only; empty tokens delete it instead.
void SaveOAuthTokens(const std::string& path, const std::string& userName, const TOAuthTokens& tokens);
void DeleteOAuthTokens(const std::string& path);
