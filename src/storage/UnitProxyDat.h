#pragma once
// The encrypted proxy credentials file: a field container with the proxy user name and password.

#include "storage/UnitEncryptStream.h"

#include <memory>
#include <string>

// Field container of the proxy credentials: user name, then password.
class TEncryptStreamProxy : public TEncryptStreamBase {
public:
    std::string ClassName() const override { return "TEncryptStreamProxy"; }
    void WriteFieldValues(TValueWriter& writer) override;
    void ReadFieldValues(TValueReader& reader) override;

    std::string UserName;
    std::string Password;
};

// The proxy credentials file, held for one load or one save.
class TProxyDat {
public:
    TProxyDat();
    virtual ~TProxyDat();
    TProxyDat(const TProxyDat&) = delete;
    TProxyDat& operator=(const TProxyDat&) = delete;

    virtual std::string Password() const;
    virtual std::string UserName() const;
    virtual void SetPassword(const std::string& value);
    virtual void SetUserName(const std::string& value);

    // Raises EFOpenError "File %s not found" when there is no file at path; the container's read errors
    // otherwise.
    void LoadFromFile(const std::string& path);
    // Replaces the file atomically, readable by its owner only: a failed save leaves the old file whole.
    void SaveToFile(const std::string& path);
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& target);

private:
    std::unique_ptr<TEncryptStreamProxy> FStream;
};
