#pragma once
// The application data: the product's values (API keys, server address, links) read once from
// "KovaDat.dat" into one process-wide object that every thread reads without a lock.

#include "items/UnitParserBaseXML.h"
#include "storage/UnitKovaDatFile.h"

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Names and shown values of fields, in the order the classes declare them; booleans show as true/false.
using TDatFieldList = std::vector<std::pair<std::string, std::string>>;

// The values of the element "COMMON".
class TDatCommon : public TParserBaseXML {
public:
    TDatCommon() { SetDefaults(); }

    std::string LINKFETCHTOKENSIGNIN;
    std::string TRACKER;
    std::string UPDATESERVER;
    bool USETRACKER;
    std::string LINKONLINEHELP;
    std::string LINKHOME;
    std::string LINKDOWNLOADPAGE;
    std::string FILENAMEPRIVACYSTATEMENT;
    std::string FILENAMELICENCEAGREEMENT;

    void SetDefaults();
    // Reads every key below the section element; a missing or empty key reads as "", false or 0.
    void ReadFrom(const TXMLNode& section);
    TDatFieldList Fields() const;
};

// The values of the element "EBAYAPI".
class TDatEbayAPI : public TParserBaseXML {
public:
    TDatEbayAPI() { SetDefaults(); }

    bool APIActive;
    int APICountRetryPostOnFail;
    std::string APIServerSandbox;
    int APISiteID;
    std::string APIAuthorizationToken;
    std::string APICertID;
    std::string APIAppID;
    std::string APIDevID;
    std::string APIServerProduction;

    void SetDefaults();
    void ReadFrom(const TXMLNode& section);
    TDatFieldList Fields() const;
};

// The sign-in values of the optional element "SIGNIN": files made before OAuth lack it and read as the
// design's token flow with the gadget's own redirect name.
class TDatSignIn : public TParserBaseXML {
public:
    static constexpr const char* KindToken = "token";
    static constexpr const char* KindOAuth = "oauth";
    static constexpr const char* DefaultScopes = "https://api.ebay.com/oauth/api_scope";
    static constexpr const char* DefaultConsentURL = "https://auth.ebay.com/oauth2/authorize";
    static constexpr const char* DefaultTokenURL = "https://api.ebay.com/identity/v1/oauth2/token";
    static constexpr const char* DefaultIdentityURL = "https://apiz.ebay.com/commerce/identity/v1/user/";
    // The scope the identity API needs: every consent asks for it, so that the gadget can tell whose it is.
    static constexpr const char* IdentityScope =
        "https://api.ebay.com/oauth/api_scope/commerce.identity.readonly";

    TDatSignIn() { SetDefaults(); }

    // "token" (the design's flow) or "oauth"; any other text reads as the token flow.
    std::string SIGNINKIND;
    // Space-separated, as eBay's consent address and refresh grant take them.
    std::string OAUTHSCOPES;
    std::string OAUTHCONSENTURL;
    std::string OAUTHTOKENURL;
    // eBay's identity API, which names the user an OAuth access token belongs to.
    std::string OAUTHIDENTITYURL;
    // Empty: the gadget's own redirect name, unless the host was started with --runame.
    std::string RUNAME;

    void SetDefaults();
    // Every value is optional: a missing or blank key keeps its default.
    void ReadFrom(const TXMLNode& section);
    TDatFieldList Fields() const;
    bool UsesOAuth() const;
    // OAUTHSCOPES with IdentityScope added when they lack it.
    std::string ConsentScopes() const;
};

// The values `kova-dat set-keys` and the application keys form write; an empty optional keeps the file's.
struct TGadgetDatKeys {
    std::optional<std::string> DevID{};
    std::optional<std::string> AppID{};
    std::optional<std::string> CertID{};
    std::optional<std::string> RuName{};
    std::optional<std::string> SignInKind{};
};

// The application data of one gadget directory. Consumers get it read-only through GadgetDat().
class TKovaGadgetDat {
public:
    static constexpr const char* DefaultFileName = "KovaDat.dat";

    explicit TKovaGadgetDat(std::string directory) : FDirectory(std::move(directory)) {}

    // Reads a data file's bytes: the container is opened with the pass phrase (a blank pass phrase takes the
    // bytes as plain XML), then the sections below the document element are read. Raises the container's,
    // the inflater's or the XML parser's error.
    void LoadFromBytes(std::string bytes, std::string_view passPhrase = KovaDatPassPhrase);
    void LoadFromFile(const std::string& path, std::string_view passPhrase = KovaDatPassPhrase);

    const std::string& Directory() const { return FDirectory; }
    const TDatCommon& Common() const { return FCommon; }
    const TDatEbayAPI& EbayAPI() const { return FEbayAPI; }
    const TDatSignIn& SignIn() const { return FSignIn; }
    // Whether DevID, AppID and CertID are all given: without them no call of the Trading API can work.
    bool HasApplicationKeys() const;
    // The fields of "COMMON", then those of "EBAYAPI", then those of "SIGNIN".
    TDatFieldList Fields() const;

private:
    std::string FDirectory;
    TDatCommon FCommon;
    TDatEbayAPI FEbayAPI;
    TDatSignIn FSignIn;
};

// Writes the given keys into the data file at path, keeping every other element as it is, and replaces the
// file atomically, owner-only: it then holds the user's application keys. The file must exist and open with
// the pass phrase. A sign-in kind other than "token" or "oauth", or a value holding a line break, is refused
// with a message before anything is written.
void SaveGadgetDatKeys(const std::string& path, const TGadgetDatKeys& keys,
                       std::string_view passPhrase = KovaDatPassPhrase);

// Replaces the process-wide object by one loaded from directory + "KovaDat.dat", or from fileName when that
// is not blank. A missing file is logged as an error and raised; after any failure GadgetDat() is null.
// Main thread only, while no worker reads the object.
void LoadGadgetDat(const std::string& directory, const std::string& fileName,
                   std::string_view passPhrase = KovaDatPassPhrase);
// The path LoadGadgetDat reads for these arguments.
std::string GadgetDatPath(const std::string& directory, const std::string& fileName);
// What the user reads when LoadGadgetDat failed with error for the file at path: the file, why it could
// not be read, and what to do about it.
std::string GadgetDatFailureText(const std::string& path, const std::exception& error);
// The process-wide object, or null before loading, after a failed load and after FreeGadgetDat.
const TKovaGadgetDat* GadgetDat();
void FreeGadgetDat();

// One "NAME=value" line per field; control characters in a value are shown as \n, \r, \t or \xHH so that
// every field stays on its own line.
std::string GadgetDatLines(const TKovaGadgetDat& dat);
