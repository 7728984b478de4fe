#include "storage/UnitKovaDat.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitEncryptStream.h"
#include "storage/UnitLockBox.h"
#include "support/UnitFileUtils.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

const char* const SFileNotFound = "File \"%s\" could not be found";
const char* const SDataFileUnreadable =
    "The application data file \"%s\" could not be read: %s. Pack it again with kova-dat into the gadget "
    "directory, as the README section \"The application data file\" says, and reload the page.";
const char* const SNoFile = "there is no such file";
const char* const SWrongKey = "it is damaged or was packed with another key";
const char* const SDamaged = "it is damaged (%s)";
const char* const SNotOpened = "it cannot be opened (%s)";

// Worker threads read the pointer while preparing their calls; the main thread sets it only while none
// runs, and publishing it atomically keeps even a misplaced read from seeing half an object.
std::unique_ptr<TKovaGadgetDat> GGadgetDatOwner;
std::atomic<const TKovaGadgetDat*> GGadgetDat{nullptr};

std::string DataFilePath(const std::string& directory, const std::string& fileName) {
    if (!Trim(fileName).empty()) return fileName;
    if (directory.empty()) return TKovaGadgetDat::DefaultFileName;
    // Init passes the directory with its delimiter; one without it must not silently name another file.
    return IncludeTrailingPathDelimiter(directory) + TKovaGadgetDat::DefaultFileName;
}

std::string BoolText(bool value) {
    return value ? "true" : "false";
}

// The child of that name, made at the end of parent when it is missing.
TXMLNode RequireChild(TXMLNode parent, const char* name) {
    if (TXMLNode child = TParserBaseXML::Child(parent, name)) return child;
    return parent.AddChild(name);
}

// A key goes into the file's XML and every call's headers: a byte that is not text there would leave the file
// unreadable (invalid UTF-8) or cut the key short (a NUL).
void CheckKeyValue(const char* name, const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos)
        throw Exception(Format("The value of %s must be one line", {name}));
    if (const std::string fault = TextValueFault(value); !fault.empty())
        throw Exception(Format("The value of %s is refused: %s", {name, fault}));
}

} // namespace

// TDatCommon

void TDatCommon::SetDefaults() {
    LINKFETCHTOKENSIGNIN.clear();
    TRACKER.clear();
    UPDATESERVER.clear();
    USETRACKER = false;
    LINKONLINEHELP.clear();
    LINKHOME.clear();
    LINKDOWNLOADPAGE.clear();
    FILENAMEPRIVACYSTATEMENT.clear();
    FILENAMELICENCEAGREEMENT.clear();
}

void TDatCommon::ReadFrom(const TXMLNode& section) {
    UPDATESERVER = ReadChildText(section, "UPDATESERVER");
    USETRACKER = ReadChildBoolean(section, "USETRACKER");
    LINKONLINEHELP = ReadChildText(section, "LINKONLINEHELP");
    LINKHOME = ReadChildText(section, "LINKHOME");
    LINKDOWNLOADPAGE = ReadChildText(section, "LINKDOWNLOADPAGE");
    LINKFETCHTOKENSIGNIN = ReadChildText(section, "LINKFETCHTOKENSIGNIN");
    FILENAMEPRIVACYSTATEMENT = ReadChildText(section, "FILENAMEPRIVACYSTATEMENT");
    FILENAMELICENCEAGREEMENT = ReadChildText(section, "FILENAMELICENCEAGREEMENT");
    TRACKER = ReadChildText(section, "TRACKER");
}

TDatFieldList TDatCommon::Fields() const {
    return {{"LINKFETCHTOKENSIGNIN", LINKFETCHTOKENSIGNIN},
            {"TRACKER", TRACKER},
            {"UPDATESERVER", UPDATESERVER},
            {"USETRACKER", BoolText(USETRACKER)},
            {"LINKONLINEHELP", LINKONLINEHELP},
            {"LINKHOME", LINKHOME},
            {"LINKDOWNLOADPAGE", LINKDOWNLOADPAGE},
            {"FILENAMEPRIVACYSTATEMENT", FILENAMEPRIVACYSTATEMENT},
            {"FILENAMELICENCEAGREEMENT", FILENAMELICENCEAGREEMENT}};
}

// TDatEbayAPI

void TDatEbayAPI::SetDefaults() {
    APIActive = true;
    APICountRetryPostOnFail = 3;
    APIServerSandbox.clear();
    APISiteID = 77;
    APIAuthorizationToken.clear();
    APICertID.clear();
    APIAppID.clear();
    APIDevID.clear();
    APIServerProduction.clear();
}

// Present but empty keys read as 0 and false, not as the defaults above: a file that names the section is
// taken to say everything it means.
void TDatEbayAPI::ReadFrom(const TXMLNode& section) {
    APIAuthorizationToken = ReadChildText(section, "APIAuthorizationToken");
    APICertID = ReadChildText(section, "APICertID");
    APIAppID = ReadChildText(section, "APIAppID");
    APIDevID = ReadChildText(section, "APIDevID");
    APIServerProduction = ReadChildText(section, "APIServerProduction");
    APIServerSandbox = ReadChildText(section, "APIServerSandbox");
    APICountRetryPostOnFail = ReadChildInteger(section, "APICountRetryPostOnFail", 0);
    APIActive = ReadChildBoolean(section, "APIActive");
    APISiteID = ReadChildInteger(section, "APISiteID", 0);
}

TDatFieldList TDatEbayAPI::Fields() const {
    return {{"APIActive", BoolText(APIActive)},
            {"APICountRetryPostOnFail", IntToStr(APICountRetryPostOnFail)},
            {"APIServerSandbox", APIServerSandbox},
            {"APISiteID", IntToStr(APISiteID)},
            {"APIAuthorizationToken", APIAuthorizationToken},
            {"APICertID", APICertID},
            {"APIAppID", APIAppID},
            {"APIDevID", APIDevID},
            {"APIServerProduction", APIServerProduction}};
}

// TDatSignIn

void TDatSignIn::SetDefaults() {
    SIGNINKIND = KindToken;
    OAUTHSCOPES = DefaultScopes;
    OAUTHCONSENTURL = DefaultConsentURL;
    OAUTHTOKENURL = DefaultTokenURL;
    OAUTHIDENTITYURL = DefaultIdentityURL;
    RUNAME.clear();
}

void TDatSignIn::ReadFrom(const TXMLNode& section) {
    const auto OptionalText = [&](const char* name, const char* fallback) {
        const std::string value = ReadChildText(section, name);
        return Trim(value).empty() ? std::string(fallback) : value;
    };
    SIGNINKIND = OptionalText("SIGNINKIND", KindToken);
    OAUTHSCOPES = OptionalText("OAUTHSCOPES", DefaultScopes);
    OAUTHCONSENTURL = OptionalText("OAUTHCONSENTURL", DefaultConsentURL);
    OAUTHTOKENURL = OptionalText("OAUTHTOKENURL", DefaultTokenURL);
    OAUTHIDENTITYURL = OptionalText("OAUTHIDENTITYURL", DefaultIdentityURL);
    RUNAME = ReadChildText(section, "RUNAME");
}

TDatFieldList TDatSignIn::Fields() const {
    return {{"SIGNINKIND", SIGNINKIND},
            {"OAUTHSCOPES", OAUTHSCOPES},
            {"OAUTHCONSENTURL", OAUTHCONSENTURL},
            {"OAUTHTOKENURL", OAUTHTOKENURL},
            {"OAUTHIDENTITYURL", OAUTHIDENTITYURL},
            {"RUNAME", RUNAME}};
}

std::string TDatSignIn::ConsentScopes() const {
    const std::string scopes = Trim(OAUTHSCOPES);
    for (size_t start = 0; start < scopes.size();) {
        const size_t end = std::min(scopes.find(' ', start), scopes.size());
        if (scopes.compare(start, end - start, IdentityScope) == 0) return scopes;
        start = end + 1;
    }
    return scopes.empty() ? std::string(IdentityScope) : scopes + " " + IdentityScope;
}

bool TDatSignIn::UsesOAuth() const {
    return SameText(Trim(SIGNINKIND), KindOAuth);
}

// TKovaGadgetDat

void TKovaGadgetDat::LoadFromBytes(std::string bytes, std::string_view passPhrase) {
    FCommon.SetDefaults();
    FEbayAPI.SetDefaults();
    FSignIn.SetDefaults();
    TMemoryStream stream(std::move(bytes));
    if (!Trim(passPhrase).empty()) TKryptCompressionUtils::DecryptAndDecompressStream(stream, passPhrase);

    TXMLDocument doc;
    doc.LoadFromXML(stream.Bytes());
    FCommon.SetDefaults();
    FEbayAPI.SetDefaults();
    FSignIn.SetDefaults();
    const TXMLNode root = doc.DocumentElement();
    if (const TXMLNode common = TParserBaseXML::Child(root, "COMMON")) FCommon.ReadFrom(common);
    if (const TXMLNode api = TParserBaseXML::Child(root, "EBAYAPI")) FEbayAPI.ReadFrom(api);
    if (const TXMLNode signIn = TParserBaseXML::Child(root, "SIGNIN")) FSignIn.ReadFrom(signIn);
}

bool TKovaGadgetDat::HasApplicationKeys() const {
    return !Trim(FEbayAPI.APIDevID).empty() && !Trim(FEbayAPI.APIAppID).empty() &&
           !Trim(FEbayAPI.APICertID).empty();
}

void TKovaGadgetDat::LoadFromFile(const std::string& path, std::string_view passPhrase) {
    LoadFromBytes(ReadFileBytes(path), passPhrase);
}

TDatFieldList TKovaGadgetDat::Fields() const {
    TDatFieldList fields = FCommon.Fields();
    for (auto& field : FEbayAPI.Fields())
        fields.push_back(std::move(field));
    for (auto& field : FSignIn.Fields())
        fields.push_back(std::move(field));
    return fields;
}

void SaveGadgetDatKeys(const std::string& path, const TGadgetDatKeys& keys, std::string_view passPhrase) {
    const std::pair<const char*, const std::optional<std::string>*> values[] = {
        {"DevID", &keys.DevID},
        {"AppID", &keys.AppID},
        {"CertID", &keys.CertID},
        {"RuName", &keys.RuName},
        {"sign-in kind", &keys.SignInKind}};
    for (const auto& [name, value] : values)
        if (*value) CheckKeyValue(name, **value);
    if (keys.SignInKind && !SameText(Trim(*keys.SignInKind), TDatSignIn::KindToken) &&
        !SameText(Trim(*keys.SignInKind), TDatSignIn::KindOAuth))
        throw Exception(
            Format("The sign-in kind must be \"token\" or \"oauth\", not \"%s\"", {*keys.SignInKind}));
    if (!FileExists(path)) throw EFOpenError(Format(SFileNotFound, {path}));

    TMemoryStream stream(ReadFileBytes(path));
    if (!Trim(passPhrase).empty()) TKryptCompressionUtils::DecryptAndDecompressStream(stream, passPhrase);
    TXMLDocument doc;
    doc.LoadFromXML(stream.Bytes());
    const TXMLNode root = doc.DocumentElement();
    if (!root) throw Exception(Format("The application data file \"%s\" holds no document", {path}));

    const bool hadApi = static_cast<bool>(TParserBaseXML::Child(root, "EBAYAPI"));
    const TXMLNode api = RequireChild(root, "EBAYAPI");
    // A new section reads its missing keys as 0 and false: it must say the defaults the file read as before.
    if (!hadApi) {
        const TDatEbayAPI defaults;
        RequireChild(api, "APIActive").SetNodeValue(defaults.APIActive ? "True" : "False");
        RequireChild(api, "APICountRetryPostOnFail").SetNodeValue(IntToStr(defaults.APICountRetryPostOnFail));
        RequireChild(api, "APISiteID").SetNodeValue(IntToStr(defaults.APISiteID));
    }
    const auto set = [](const TXMLNode& section, const char* name, const std::optional<std::string>& value) {
        if (value) RequireChild(section, name).SetNodeValue(Trim(*value));
    };
    set(api, "APIDevID", keys.DevID);
    set(api, "APIAppID", keys.AppID);
    set(api, "APICertID", keys.CertID);
    if (keys.RuName || keys.SignInKind) {
        const TXMLNode signIn = RequireChild(root, "SIGNIN");
        set(signIn, "RUNAME", keys.RuName);
        if (keys.SignInKind)
            RequireChild(signIn, "SIGNINKIND").SetNodeValue(LowerCase(Trim(*keys.SignInKind)));
    }
    const std::string xml = doc.SaveToXML();
    WriteFileAtomic(path, Trim(passPhrase).empty() ? xml : PackKovaDat(xml, passPhrase),
                    TFileAccess::OwnerOnly, TFileKeep::Durable);
}

// The process-wide object

void LoadGadgetDat(const std::string& directory, const std::string& fileName, std::string_view passPhrase) {
    FreeGadgetDat();
    const std::string path = DataFilePath(directory, fileName);
    if (!FileExists(path)) {
        const std::string message = Format(SFileNotFound, {path});
        Log(message, lmkError);
        throw EFOpenError(message);
    }
    auto dat = std::make_unique<TKovaGadgetDat>(directory);
    dat->LoadFromFile(path, passPhrase);
    GGadgetDatOwner = std::move(dat);
    GGadgetDat.store(GGadgetDatOwner.get(), std::memory_order_release);
}

std::string GadgetDatPath(const std::string& directory, const std::string& fileName) {
    return DataFilePath(directory, fileName);
}

std::string GadgetDatFailureText(const std::string& path, const std::exception& error) {
    std::string reason;
    if (!FileExists(path))
        reason = SNoFile;
    else if (dynamic_cast<const EKryptHashError*>(&error))
        reason = SWrongKey;
    else if (dynamic_cast<const EFOpenError*>(&error))
        reason = Format(SNotOpened, {error.what()});
    else
        reason = Format(SDamaged, {error.what()});
    return Format(SDataFileUnreadable, {path, reason});
}

const TKovaGadgetDat* GadgetDat() {
    return GGadgetDat.load(std::memory_order_acquire);
}

void FreeGadgetDat() {
    GGadgetDat.store(nullptr, std::memory_order_release);
    GGadgetDatOwner.reset();
}

std::string GadgetDatLines(const TKovaGadgetDat& dat) {
    static const char* const hex = "0123456789ABCDEF";
    std::string text;
    for (const auto& [name, value] : dat.Fields()) {
        text += name;
        text += '=';
        for (const char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '\n')
                text += "\\n";
            else if (c == '\r')
                text += "\\r";
            else if (c == '\t')
                text += "\\t";
            else if (byte < 0x20 || byte == 0x7F)
                text += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
            else
                text += c;
        }
        text += '\n';
    }
    return text;
}
