#include "storage/UnitEbayLoginDataDat.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"

void TEncryptStreamEbayLoginData::WriteFieldValues(TValueWriter& writer) {
    writer.WriteString(UserName);
    writer.WriteString(Password);
    writer.WriteString(Token);
}

void TEncryptStreamEbayLoginData::ReadFieldValues(TValueReader& reader) {
    UserName = reader.ReadString();
    Password = reader.ReadString();
    Token = reader.ReadString();
}

TEbayLoginDataDat::TEbayLoginDataDat() : FStream(std::make_unique<TEncryptStreamEbayLoginData>()) {
}

TEbayLoginDataDat::~TEbayLoginDataDat() = default;

std::string TEbayLoginDataDat::Password() const {
    return FStream->Password;
}

std::string TEbayLoginDataDat::UserName() const {
    return FStream->UserName;
}

void TEbayLoginDataDat::SetPassword(const std::string& value) {
    FStream->Password = value;
}

void TEbayLoginDataDat::SetUserName(const std::string& value) {
    FStream->UserName = value;
}

std::string TEbayLoginDataDat::Token() const {
    return FStream->Token;
}

void TEbayLoginDataDat::SetToken(const std::string& value) {
    FStream->Token = value;
}

void TEbayLoginDataDat::LoadFromFile(const std::string& path) {
    if (!FileExists(path)) throw EFOpenError(Format("File \"%s\" could not be found", {path}));
    FStream->LoadFromFileEncrypted(path);
}

void TEbayLoginDataDat::SaveToFile(const std::string& path) {
    FStream->SaveToFileEncrypted(path, TFileAccess::OwnerOnly);
}

void TEbayLoginDataDat::LoadFromStream(TStream& source) {
    FStream->LoadFromStreamEncrypted(source);
}

void TEbayLoginDataDat::SaveToStream(TStream& target) {
    FStream->SaveToStreamEncrypted(target);
}
