#include "storage/UnitOAuthTokens.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "support/UnitFileUtils.h"

#include <charconv>

namespace {

constexpr double SecondsPerDay = 86400.0;

// A date-time as the shortest text that reads back to the same value.
std::string DateTimeText(TDateTime value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value));
    return std::string(text, result.ptr);
}

TDateTime DateTimeOf(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? TDateTime(value) : TDateTime(0);
}

} // namespace

bool TOAuthTokens::AccessTokenDue(TDateTime nowUTC, int marginSeconds) const {
    if (AccessToken.empty() || AccessTokenExpires == 0) return true;
    return (static_cast<double>(AccessTokenExpires) - static_cast<double>(nowUTC)) * SecondsPerDay <=
           marginSeconds;
}

void TEncryptStreamOAuthTokens::WriteFieldValues(TValueWriter& writer) {
    writer.WriteString(UserName);
    writer.WriteString(Tokens.AccessToken);
    writer.WriteString(DateTimeText(Tokens.AccessTokenExpires));
    writer.WriteString(Tokens.RefreshToken);
    writer.WriteString(DateTimeText(Tokens.RefreshTokenExpires));
}

void TEncryptStreamOAuthTokens::ReadFieldValues(TValueReader& reader) {
    UserName = reader.ReadString();
    Tokens.AccessToken = reader.ReadString();
    Tokens.AccessTokenExpires = DateTimeOf(reader.ReadString());
    Tokens.RefreshToken = reader.ReadString();
    Tokens.RefreshTokenExpires = DateTimeOf(reader.ReadString());
}

std::string OAuthTokensPath(const std::string& loginDataPath) {
    return ExtractFilePath(loginDataPath) + "eboauth.dat";
}

TOAuthTokens LoadOAuthTokens(const std::string& path, const std::string& userName) {
    if (!FileExists(path)) return {};
    TEncryptStreamOAuthTokens stream;
    stream.LoadFromFileEncrypted(path);
    if (!SameText(Trim(stream.UserName), Trim(userName))) return {};
    return stream.Tokens;
}

void SaveOAuthTokens(const std::string& path, const std::string& userName, const TOAuthTokens& tokens) {
    if (tokens.Empty()) return DeleteOAuthTokens(path);
    TEncryptStreamOAuthTokens stream;
    stream.UserName = userName;
    stream.Tokens = tokens;
    stream.SaveToFileEncrypted(path, TFileAccess::OwnerOnly);
}

void DeleteOAuthTokens(const std::string& path) {
    if (FileExists(path)) DeleteFile(path);
}
