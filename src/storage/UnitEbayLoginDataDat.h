#pragma once
// The encrypted login data file: a field container with the eBay user name, password and token. Below both
// the settings (whose "EBayLogin" section loads and saves it) and the login data that use those settings.

#include "storage/UnitEncryptStream.h"

#include <memory>
#include <string>

// Field container of the login data file: user name, password, token.
class TEncryptStreamEbayLoginData : public TEncryptStreamBase {
public:
    std::string ClassName() const override { return "TEncryptStreamEbayLoginData"; }
    void WriteFieldValues(TValueWriter& writer) override;
    void ReadFieldValues(TValueReader& reader) override;

    std::string UserName;
    std::string Password;
    std::string Token;
};

// The login data file, held for one load or one save.
class TEbayLoginDataDat {
public:
    TEbayLoginDataDat();
    virtual ~TEbayLoginDataDat();
    TEbayLoginDataDat(const TEbayLoginDataDat&) = delete;
    TEbayLoginDataDat& operator=(const TEbayLoginDataDat&) = delete;

    virtual std::string Password() const;
    virtual std::string UserName() const;
    virtual void SetPassword(const std::string& value);
    virtual void SetUserName(const std::string& value);
    std::string Token() const;
    void SetToken(const std::string& value);

    // Raises EFOpenError "File "%s" could not be found" when there is no file at path; the container's
    // read errors otherwise.
    void LoadFromFile(const std::string& path);
    // Replaces the file atomically, readable by its owner only: a failed save leaves the old file whole.
    void SaveToFile(const std::string& path);
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& target);

private:
    std::unique_ptr<TEncryptStreamEbayLoginData> FStream;
};
