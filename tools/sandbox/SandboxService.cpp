#include "SandboxService.h"

#include "SandboxResponses.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"
#include "time/UnitIsoTime.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdexcept>

namespace {

// About eighteen months, as eBay's tokens live.
constexpr double TokenLifetimeDays = 540;
constexpr int DefaultEntriesPerPage = 25;
constexpr int MaxEntriesPerPage = 200;
constexpr size_t MaxLoggedRequests = 10000;

const std::map<std::string, TSandboxFaultKind> FaultKinds{{"status", TSandboxFaultKind::Status},
                                                          {"empty", TSandboxFaultKind::Empty},
                                                          {"notxml", TSandboxFaultKind::NotXml},
                                                          {"truncated", TSandboxFaultKind::Truncated},
                                                          {"drop", TSandboxFaultKind::Drop},
                                                          {"delay", TSandboxFaultKind::Delay},
                                                          {"xml", TSandboxFaultKind::Xml},
                                                          {"trickle", TSandboxFaultKind::Trickle},
                                                          {"badcert", TSandboxFaultKind::BadCert},
                                                          {"pages", TSandboxFaultKind::Pages},
                                                          {"calllimit", TSandboxFaultKind::CallLimit}};

constexpr int DefaultTrickleMs = 5000;

bool ParseInt(const std::string& text, int& value) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return false;
    const auto result = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    return result.ec == std::errc() && result.ptr == trimmed.data() + trimmed.size();
}

std::string Header(const TSandboxHeaders& headers, const std::string& name) {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

bool IsIdentifier(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c); });
}

// eBay answers with the call's response element; without a usable call name with its generic root.
std::string ResponseRoot(const std::string& callName) {
    return IsIdentifier(callName) ? callName + "Response" : "eBay";
}

std::string ChildText(const pugi::xml_node& node, const char* name) {
    return Trim(node.child(name).text().get());
}

int JsonInt(const nlohmann::json& value, const char* name, int fallback) {
    if (!value.contains(name)) return fallback;
    const nlohmann::json& field = value.at(name);
    if (!field.is_number_integer())
        throw std::invalid_argument(std::string("\"") + name + "\" must be an integer");
    return field.get<int>();
}

std::string JsonText(const nlohmann::json& value, const char* name) {
    if (!value.contains(name)) return {};
    const nlohmann::json& field = value.at(name);
    if (!field.is_string()) throw std::invalid_argument(std::string("\"") + name + "\" must be a string");
    return field.get<std::string>();
}

} // namespace

TSandboxAppKeys SandboxDefaultAppKeys() {
    return {"KovaSandboxDev", "KovaSandboxApp", "KovaSandboxCert"};
}

bool TSandboxCaseLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

TSandboxFault ParseSandboxFault(const nlohmann::json& value) {
    if (!value.is_object()) throw std::invalid_argument("a fault is a JSON object");
    TSandboxFault fault;
    const std::string kind = JsonText(value, "kind");
    auto it = FaultKinds.find(kind);
    if (it == FaultKinds.end()) {
        std::string names;
        for (const auto& [name, _] : FaultKinds)
            names += (names.empty() ? "" : ", ") + name;
        throw std::invalid_argument("\"kind\" must be one of " + names);
    }
    fault.Kind = it->second;
    fault.Call = JsonText(value, "call");
    fault.Page = JsonInt(value, "page", 0);
    fault.Times = JsonInt(value, "times", 1);
    fault.Status = JsonInt(value, "status", 500);
    fault.DelayMs = JsonInt(value, "ms", fault.Kind == TSandboxFaultKind::Trickle ? DefaultTrickleMs : 0);
    fault.After = JsonInt(value, "after", 0);
    fault.PageCount = JsonInt(value, "count", 0);
    fault.Body = JsonText(value, "body");
    if (fault.Page < 0) throw std::invalid_argument("\"page\" must not be negative");
    if (fault.Times < 1) throw std::invalid_argument("\"times\" must be at least 1");
    if (fault.Status < 100 || fault.Status > 599)
        throw std::invalid_argument("\"status\" must be 100 to 599");
    if (fault.DelayMs < 0 || fault.DelayMs > 600000)
        throw std::invalid_argument("\"ms\" must be 0 to 600000");
    if (fault.Kind == TSandboxFaultKind::Xml && !value.contains("body"))
        throw std::invalid_argument("an xml fault needs a \"body\"");
    if (fault.After < 0) throw std::invalid_argument("\"after\" must not be negative");
    // The certificate is chosen during the handshake, before any call or page is known.
    if (fault.Kind == TSandboxFaultKind::BadCert && (!fault.Call.empty() || fault.Page != 0))
        throw std::invalid_argument("a badcert fault matches new connections, not a \"call\" or \"page\"");
    if (fault.Kind == TSandboxFaultKind::Pages && (!value.contains("count") || fault.PageCount < 0))
        throw std::invalid_argument("a pages fault needs a \"count\" of 0 or more");
    return fault;
}

TSandboxItemChange ParseSandboxItemChange(const nlohmann::json& value) {
    if (!value.is_object()) throw std::invalid_argument("an item change is a JSON object");
    TSandboxItemChange change;
    change.UserName = JsonText(value, "username");
    if (change.UserName.empty()) throw std::invalid_argument("\"username\" must be a non-empty string");
    change.Index = JsonInt(value, "index", -1);
    const auto optionalText = [&value](const char* name) -> std::optional<std::string> {
        if (!value.contains(name)) return std::nullopt;
        return JsonText(value, name);
    };
    change.ItemID = optionalText("itemId");
    change.Title = optionalText("title");
    change.Seller = optionalText("seller");
    change.HighBidder = optionalText("highBidder");
    change.GalleryURL = optionalText("galleryUrl");
    if (change.ItemID && change.ItemID->empty()) throw std::invalid_argument("\"itemId\" must not be empty");
    if (value.contains("endTime") && value.contains("endsInSeconds"))
        throw std::invalid_argument("give \"endTime\" or \"endsInSeconds\", not both");
    if (value.contains("endTime")) {
        TDateTime end = 0;
        if (!TryReadIsoUTC(JsonText(value, "endTime"), end) || end <= 0)
            throw std::invalid_argument("\"endTime\" must be an ISO 8601 time such as 2026-12-08T10:15:00Z");
        change.EndTime = end;
    }
    if (value.contains("endsInSeconds"))
        change.EndTime = NowUTC() + JsonInt(value, "endsInSeconds", 0) / 86400.0;
    return change;
}

TSandboxService::TSandboxService(const std::vector<TSandboxAccountOption>& accounts, uint64_t seed,
                                 TSandboxAppKeys keys, TDateTime start, std::string ruName)
    : FKeys(std::move(keys)), FRuName(std::move(ruName)), FStart(start),
      FOAuth(std::make_unique<TSandboxOAuth>(
          FKeys.AppID, FKeys.CertID, FRuName,
          [this](const std::string& userName) { return HasAccount(userName); })) {
    for (const TSandboxAccountOption& account : accounts)
        FAccounts.push_back(GenerateSandboxAccount(account.UserName, account.Count, seed, FStart));
}

int TSandboxService::RequestedPage(const std::string& callName, const std::string& body) {
    if (callName != "GetMyeBayBuying") return 0;
    pugi::xml_document doc;
    if (!doc.load_buffer(body.data(), body.size())) return 1;
    int page = 1;
    if (!ParseInt(
            doc.document_element().child("WatchList").child("Pagination").child("PageNumber").text().get(),
            page))
        return 1;
    return std::max(page, 1);
}

std::optional<TSandboxFault> TSandboxService::ReceiveApiRequest(const std::string& callName,
                                                                const TSandboxHeaders& headers,
                                                                const std::string& body) {
    const int page = RequestedPage(callName, body);
    nlohmann::json entry{
        {"call", callName}, {"page", page}, {"headers", nlohmann::json::object()}, {"body", body}};
    for (const auto& [name, value] : headers)
        entry["headers"][name] = value;

    std::lock_guard lock(FLock);
    // A demo may run for days; the oldest entries make room rather than memory growing without end.
    if (FRequests.size() >= MaxLoggedRequests) FRequests.erase(FRequests.begin());
    FRequests.push_back(std::move(entry));
    for (auto it = FFaults.begin(); it != FFaults.end(); ++it) {
        if (it->Kind == TSandboxFaultKind::BadCert) continue;
        // Only a watch list answer has a page count to announce.
        if (it->Kind == TSandboxFaultKind::Pages && callName != "GetMyeBayBuying") continue;
        if (!it->Call.empty() && it->Call != callName) continue;
        if (it->Page != 0 && it->Page != page) continue;
        TSandboxFault fault = *it;
        if (--it->Times == 0) FFaults.erase(it);
        return fault;
    }
    return std::nullopt;
}

bool TSandboxService::TakeCertificateFault() {
    std::lock_guard lock(FLock);
    auto it = std::find_if(FFaults.begin(), FFaults.end(), [](const TSandboxFault& fault) {
        return fault.Kind == TSandboxFaultKind::BadCert;
    });
    if (it == FFaults.end()) return false;
    if (it->After > 0) {
        --it->After;
        return false;
    }
    if (--it->Times == 0) FFaults.erase(it);
    return true;
}

bool TSandboxService::NewConnectionsWanted() const {
    std::lock_guard lock(FLock);
    return std::any_of(FFaults.begin(), FFaults.end(), [](const TSandboxFault& fault) {
        return fault.Kind == TSandboxFaultKind::BadCert || fault.Kind == TSandboxFaultKind::Drop;
    });
}

std::string TSandboxService::AnswerCallLimit(const std::string& callName) const {
    return BuildErrorResponse(ResponseRoot(callName), SandboxErrors::CallLimit(), NowUTC());
}

std::string TSandboxService::AnswerApiRequest(const std::string& callName, const TSandboxHeaders& headers,
                                              const std::string& body, std::optional<int> announcedPages) {
    const TDateTime now = NowUTC();
    const std::string root = ResponseRoot(callName);
    int number = 0;
    for (const char* name : {"X-EBAY-API-COMPATIBILITY-LEVEL", "X-EBAY-API-SITEID"}) {
        const std::string value = Header(headers, name);
        if (!ParseInt(value, number) || number < 0)
            return BuildErrorResponse(root, SandboxErrors::InvalidHeader(name, value), now);
    }
    const std::string appName = Header(headers, "X-EBAY-API-APP-NAME");
    const bool keysMatch = Header(headers, "X-EBAY-API-DEV-NAME") == FKeys.DevID && appName == FKeys.AppID &&
                           Header(headers, "X-EBAY-API-CERT-NAME") == FKeys.CertID;
    auto certificate = headers.find("X-EBAY-API-SESSION-CERTIFICATE");
    const bool certificateMatches =
        certificate == headers.end() ||
        certificate->second == FKeys.DevID + ";" + FKeys.AppID + ";" + FKeys.CertID;
    if (!keysMatch || !certificateMatches)
        return BuildErrorResponse(root, SandboxErrors::InvalidApplication(appName), now);
    if (callName != "GetMyeBayBuying" && callName != "FetchToken" && callName != "GetSessionID" &&
        callName != "GetUser")
        return BuildErrorResponse(root, SandboxErrors::UnsupportedCall(callName), now);

    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(body.data(), body.size());
    if (!parsed) return BuildErrorResponse(root, SandboxErrors::XmlParseError(parsed.description()), now);
    const pugi::xml_node request = doc.document_element();
    if (std::string(request.name()) != callName + "Request")
        return BuildErrorResponse(root,
                                  SandboxErrors::XmlParseError("The root element <" +
                                                               std::string(request.name()) +
                                                               "> does not match the call " + callName),
                                  now);
    if (callName == "FetchToken") return AnswerFetchToken(root, request, now);
    if (callName == "GetSessionID") return AnswerGetSessionID(root, request, now);
    if (callName == "GetUser") return AnswerGetUser(root, headers, request, now);
    return AnswerGetMyeBayBuying(root, headers, request, now, announcedPages);
}

std::string TSandboxService::AnswerGetMyeBayBuying(const std::string& root, const TSandboxHeaders& headers,
                                                   const pugi::xml_node& request, TDateTime now,
                                                   std::optional<int> announcedPages) {
    std::string errorAnswer;
    const std::string userName = TokenUser(root, headers, request, now, errorAnswer);
    if (userName.empty()) return errorAnswer;
    const TSandboxAccount* account = FindAccount(userName);
    if (!account) return BuildErrorResponse(root, SandboxErrors::InvalidToken(), now);

    const pugi::xml_node pagination = request.child("WatchList").child("Pagination");
    int entries = DefaultEntriesPerPage, page = 1;
    const std::string entriesText = ChildText(pagination, "EntriesPerPage");
    const std::string pageText = ChildText(pagination, "PageNumber");
    if (!entriesText.empty() && !ParseInt(entriesText, entries))
        return BuildErrorResponse(root, SandboxErrors::InvalidInput("EntriesPerPage"), now);
    if (!pageText.empty() && !ParseInt(pageText, page))
        return BuildErrorResponse(root, SandboxErrors::InvalidInput("PageNumber"), now);
    // eBay clamps the page size and starts at page 1 rather than failing.
    entries = std::clamp(entries, 1, MaxEntriesPerPage);
    page = std::max(page, 1);
    std::shared_lock items(FItemsLock);
    if (FHighBidderIds)
        return BuildWatchListResponse(AsAnswered(*account), entries, page, now, announcedPages);
    return BuildWatchListResponse(*account, entries, page, now, announcedPages);
}

std::string TSandboxService::TokenUser(const std::string& root, const TSandboxHeaders& headers,
                                       const pugi::xml_node& request, TDateTime now,
                                       std::string& errorAnswer) {
    std::string userName;
    // An OAuth user access token in its header takes the place of the token in the body.
    if (const std::string accessToken = Header(headers, "X-EBAY-API-IAF-TOKEN"); !Trim(accessToken).empty()) {
        switch (FOAuth->CheckAccessToken(accessToken, userName)) {
        case TSandboxOAuth::TAccessCheck::Unknown:
            errorAnswer = BuildErrorResponse(root, SandboxErrors::InvalidToken(), now);
            return "";
        case TSandboxOAuth::TAccessCheck::Expired:
            errorAnswer = BuildErrorResponse(root, SandboxErrors::ExpiredToken(), now);
            return "";
        case TSandboxOAuth::TAccessCheck::Valid:
            break;
        }
    } else {
        const std::string token = ChildText(request.child("RequesterCredentials"), "eBayAuthToken");
        std::lock_guard lock(FLock);
        auto it = FTokens.find(token);
        if (it == FTokens.end() || it->second.Expired) {
            errorAnswer = BuildErrorResponse(
                root, it == FTokens.end() ? SandboxErrors::InvalidToken() : SandboxErrors::ExpiredToken(),
                now);
            return "";
        }
        userName = it->second.UserName;
    }
    if (userName.empty()) errorAnswer = BuildErrorResponse(root, SandboxErrors::InvalidToken(), now);
    return userName;
}

std::string TSandboxService::AnswerGetUser(const std::string& root, const TSandboxHeaders& headers,
                                           const pugi::xml_node& request, TDateTime now) {
    std::string errorAnswer;
    const std::string userName = TokenUser(root, headers, request, now, errorAnswer);
    if (userName.empty()) return errorAnswer;
    // GetUser with a UserID names another user; the gadget asks only for the token's own.
    const std::string asked = ChildText(request, "UserID");
    const TSandboxAccount* account = FindAccount(asked.empty() ? userName : asked);
    if (!account) return BuildErrorResponse(root, SandboxErrors::InvalidInput("UserID"), now);
    return BuildGetUserResponse(*account, now);
}

TSandboxAccount TSandboxService::AsAnswered(const TSandboxAccount& account) const {
    TSandboxAccount answered = account;
    for (TSandboxItem& item : answered.WatchList)
        if (const TSandboxAccount* bidder = FindAccount(item.HighBidder)) item.HighBidder = bidder->UserID;
    return answered;
}

nlohmann::json TSandboxService::AccountList() const {
    nlohmann::json list = nlohmann::json::array();
    for (const TSandboxAccount& account : FAccounts)
        list.push_back({{"username", account.UserName}, {"userId", account.UserID}});
    return {{"accounts", list}};
}

std::string TSandboxService::AnswerFetchToken(const std::string& root, const pugi::xml_node& request,
                                              TDateTime now) {
    const std::string sessionId = ChildText(request, "SessionID");
    if (!sessionId.empty()) {
        // eBay's own session names the user that signed in; no credentials come with it.
        std::lock_guard lock(FLock);
        auto session = FSessions.find(sessionId);
        if (session == FSessions.end() || session->second.UserName.empty())
            return BuildErrorResponse(root, SandboxErrors::SignInNotCompleted(), now);
        auto known = FTokens.find(session->second.Token);
        if (known == FTokens.end() || known->second.Expired)
            session->second.Token = NewTokenLocked(session->second.UserName);
        return BuildFetchTokenResponse(session->second.Token, now + TokenLifetimeDays, now);
    }
    const std::string userName = ChildText(request.child("RequesterCredentials"), "Username");
    const std::string secretId = ChildText(request, "SecretID");
    if (userName.empty()) return BuildErrorResponse(root, SandboxErrors::InvalidInput("Username"), now);
    if (secretId.empty()) return BuildErrorResponse(root, SandboxErrors::InvalidInput("SecretID"), now);

    std::lock_guard lock(FLock);
    auto session = FSessions.find(secretId);
    if (session == FSessions.end() || !SameText(session->second.UserName, userName))
        return BuildErrorResponse(root, SandboxErrors::SignInNotCompleted(), now);
    auto known = FTokens.find(session->second.Token);
    if (known == FTokens.end() || known->second.Expired)
        session->second.Token = NewTokenLocked(session->second.UserName);
    return BuildFetchTokenResponse(session->second.Token, now + TokenLifetimeDays, now);
}

std::string TSandboxService::AnswerGetSessionID(const std::string& root, const pugi::xml_node& request,
                                                TDateTime now) {
    const std::string ruName = ChildText(request, "RuName");
    if (ruName != FRuName) return BuildErrorResponse(root, SandboxErrors::InvalidInput("RuName"), now);
    // eBay's session ids travel in the sign-in link: this one needs no escaping there.
    std::string sessionId = RandomText(30);
    std::replace(sessionId.begin(), sessionId.end(), '+', '-');
    std::replace(sessionId.begin(), sessionId.end(), '/', '_');
    std::lock_guard lock(FLock);
    FSessions[sessionId] = {};
    return BuildGetSessionIDResponse(sessionId, now);
}

const TSandboxAccount* TSandboxService::FindAccount(const std::string& userName) const {
    for (const TSandboxAccount& account : FAccounts)
        if (SameText(account.UserName, userName)) return &account;
    return nullptr;
}

void TSandboxService::ServePicturesFrom(const std::string& origin) {
    std::unique_lock items(FItemsLock);
    FPictureOrigin = origin;
    for (TSandboxAccount& account : FAccounts)
        for (TSandboxItem& item : account.WatchList)
            if (item.GalleryURL.starts_with('/')) item.GalleryURL = origin + item.GalleryURL;
}

bool TSandboxService::ChangeItem(const TSandboxItemChange& change) {
    const auto account =
        std::find_if(FAccounts.begin(), FAccounts.end(),
                     [&change](const TSandboxAccount& a) { return SameText(a.UserName, change.UserName); });
    if (account == FAccounts.end()) return false;
    std::unique_lock items(FItemsLock);
    std::vector<TSandboxItem>& list = account->WatchList;
    if (list.empty()) throw std::invalid_argument("the account \"" + account->UserName + "\" has no items");
    if (change.Index < 0 || static_cast<size_t>(change.Index) >= list.size())
        throw std::invalid_argument("\"index\" must be from 0 to " + std::to_string(list.size() - 1) +
                                    ", the position of an item in the watch list");
    TSandboxItem& item = list[static_cast<size_t>(change.Index)];
    if (change.ItemID && *change.ItemID != item.ItemID) {
        for (const TSandboxItem& other : list)
            if (other.ItemID == *change.ItemID)
                throw std::invalid_argument("another item has the id \"" + *change.ItemID + "\"");
        const size_t idStart = item.ViewItemURL.rfind("/itm/");
        if (idStart != std::string::npos)
            item.ViewItemURL.replace(idStart + 5, std::string::npos, *change.ItemID);
        item.ItemID = *change.ItemID;
    }
    if (change.Title) item.Title = *change.Title;
    if (change.Seller) item.Seller = *change.Seller;
    if (change.HighBidder) item.HighBidder = *change.HighBidder;
    // The item keeps its place in the list, so that later changes find it at the same index.
    if (change.EndTime) {
        const TDateTime duration = item.EndTime - item.StartTime;
        item.EndTime = *change.EndTime;
        item.StartTime = item.EndTime - duration;
    }
    if (change.GalleryURL)
        item.GalleryURL =
            change.GalleryURL->starts_with('/') ? FPictureOrigin + *change.GalleryURL : *change.GalleryURL;
    return true;
}

bool TSandboxService::HasAccount(const std::string& userName) const {
    return FindAccount(userName) != nullptr;
}

std::string TSandboxService::RandomText(size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("RAND_bytes failed");
    std::string encoded(4 * ((bytes + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), random.data(),
                                       static_cast<int>(bytes));
    encoded.resize(static_cast<size_t>(length));
    return encoded;
}

std::string TSandboxService::NewTokenLocked(const std::string& userName) {
    const std::string encoded = RandomText(96);
    // The prefix and separators of eBay's tokens, so that anything that looks at their shape sees the usual.
    const std::string token = "AgAAAA**AQAAAA**aAAAAA**" + encoded.substr(0, 64) + "**" + encoded.substr(64);
    FTokens[token] = {userName, false};
    return token;
}

bool TSandboxService::SignIn(const std::string& userName, const std::string& secretId) {
    const TSandboxAccount* account = FindAccount(userName);
    if (!account || Trim(secretId).empty()) return false;
    std::lock_guard lock(FLock);
    TSession& session = FSessions[Trim(secretId)];
    if (!SameText(session.UserName, account->UserName)) session = {account->UserName, {}};
    return true;
}

std::optional<std::string> TSandboxService::IssueToken(const std::string& userName) {
    const TSandboxAccount* account = FindAccount(userName);
    if (!account) return std::nullopt;
    std::lock_guard lock(FLock);
    return NewTokenLocked(account->UserName);
}

bool TSandboxService::ExpireToken(const std::string& token) {
    std::lock_guard lock(FLock);
    auto it = FTokens.find(token);
    if (it == FTokens.end()) return false;
    it->second.Expired = true;
    return true;
}

void TSandboxService::AddFault(const TSandboxFault& fault) {
    std::lock_guard lock(FLock);
    FFaults.push_back(fault);
}

nlohmann::json TSandboxService::RequestLog() const {
    std::lock_guard lock(FLock);
    return FRequests;
}

void TSandboxService::Reset() {
    FOAuth->Reset();
    FHighBidderIds = FHighBidderIdsAtStart;
    std::lock_guard lock(FLock);
    FTokens.clear();
    FSessions.clear();
    FFaults.clear();
    FRequests = nlohmann::json::array();
}
