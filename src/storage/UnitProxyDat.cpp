#include "storage/UnitProxyDat.h"

#include "base/UnitUtils.h"

void TEncryptStreamProxy::WriteFieldValues(TValueWriter& writer) {
    writer.WriteString(UserName);
    writer.WriteString(Password);
}

void TEncryptStreamProxy::ReadFieldValues(TValueReader& reader) {
    UserName = reader.ReadString();
    Password = reader.ReadString();
}

TProxyDat::TProxyDat() : FStream(std::make_unique<TEncryptStreamProxy>()) {
}

TProxyDat::~TProxyDat() = default;

std::string TProxyDat::Password() const {
    return FStream->Password;
}

std::string TProxyDat::UserName() const {
    return FStream->UserName;
}

void TProxyDat::SetPassword(const std::string& value) {
    FStream->Password = value;
}

void TProxyDat::SetUserName(const std::string& value) {
    FStream->UserName = value;
}

void TProxyDat::LoadFromFile(const std::string& path) {
    if (!FileExists(path)) throw EFOpenError(Format("File %s not found", {path}));
    FStream->LoadFromFileEncrypted(path);
}

void TProxyDat::SaveToFile(const std::string& path) {
    FStream->SaveToFileEncrypted(path, TFileAccess::OwnerOnly);
}

void TProxyDat::LoadFromStream(TStream& source) {
    FStream->LoadFromStreamEncrypted(source);
}

void TProxyDat::SaveToStream(TStream& target) {
    FStream->SaveToStreamEncrypted(target);
}
