#pragma once
// The sandbox's state and the Trading API behind the HTTP layer: accounts, sign-in sessions, tokens,
// queued faults and the log of received requests. Every member may be called from any server thread.

#include "SandboxAccounts.h"
#include "SandboxOAuth.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <pugixml.hpp>
#include <shared_mutex>
#include <string>
#include <vector>

struct TSandboxOutbid;

struct TSandboxAppKeys {
    std::string DevID, AppID, CertID;
};

// The keys a sandbox accepts unless --app-keys names others.
TSandboxAppKeys SandboxDefaultAppKeys();

// The redirect name (RuName) a sandbox accepts unless --runame names another: the gadget's own.
constexpr const char* SandboxDefaultRuName = "KovaGadget-KovaGadg-KovaSan-qzvnmbwa";

// What a queued fault does to the request it matches.
enum class TSandboxFaultKind {
    Status,    // answer with Status and Body (default: a short text)
    Empty,     // 200 with an empty body
    NotXml,    // 200 with bytes that are not XML
    Truncated, // the normal answer's headers and first half, then the connection is closed
    Drop,      // the connection is closed without an answer
    Delay,     // the normal answer after DelayMs milliseconds
    Xml,       // 200 with Body as the answer
    Trickle,   // 200 and the normal answer, one byte every DelayMs milliseconds
    BadCert,   // after After further new connections, Times new connections get an untrusted certificate
    Pages,     // a watch list answer that announces PageCount pages
    CallLimit  // eBay's error 518: the application's calls of the day are used up
};

struct TSandboxFault {
    std::string Call; // empty: any call
    int Page = 0;     // 0: any page
    int Times = 1;    // how many matching requests it affects
    TSandboxFaultKind Kind = TSandboxFaultKind::Status;
    int Status = 500;
    int DelayMs = 0;   // delay and trickle
    int After = 0;     // badcert: new connections served normally first
    int PageCount = 0; // pages
    std::string Body;
};

// Reads a fault from the control endpoint's JSON; raises std::invalid_argument with the reason.
TSandboxFault ParseSandboxFault(const nlohmann::json& value);

// A change of one watched item, for answers a test needs: only the fields given change.
struct TSandboxItemChange {
    std::string UserName;
    int Index = 0; // in the order of the watch list
    std::optional<std::string> ItemID, Title, Seller, HighBidder, GalleryURL;
    // "endTime" (ISO 8601 UTC) or "endsInSeconds" (from now; negative: ended that long ago).
    std::optional<TDateTime> EndTime;
};

// Reads an item change from the control endpoint's JSON; raises std::invalid_argument with the reason.
TSandboxItemChange ParseSandboxItemChange(const nlohmann::json& value);

// Header lookup without regard to letter case, as HTTP names them.
struct TSandboxCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using TSandboxHeaders = std::map<std::string, std::string, TSandboxCaseLess>;

struct TSandboxAccountOption {
    std::string UserName;
    int Count = 0;
};

class TSandboxService {
public:
    TSandboxService(const std::vector<TSandboxAccountOption>& accounts, uint64_t seed, TSandboxAppKeys keys,
                    TDateTime start, std::string ruName = SandboxDefaultRuName);

    // The WatchList page number a GetMyeBayBuying body asks for (1 when absent), 0 for other calls.
    static int RequestedPage(const std::string& callName, const std::string& body);

    // Logs the request and takes the first queued request fault that matches it, if any.
    std::optional<TSandboxFault> ReceiveApiRequest(const std::string& callName,
                                                   const TSandboxHeaders& headers, const std::string& body);
    // The XML answer of an API request; errors are answers too, as eBay gives them. announcedPages replaces
    // the page count a watch list answer announces.
    std::string AnswerApiRequest(const std::string& callName, const TSandboxHeaders& headers,
                                 const std::string& body, std::optional<int> announcedPages = std::nullopt);
    // The call's answer when the application's calls of the day are used up (error 518).
    std::string AnswerCallLimit(const std::string& callName) const;
    // Called once per new TLS connection: true when it is to get the untrusted certificate.
    bool TakeCertificateFault();
    // True while a badcert or drop fault is queued: answers then close their connections, so that the
    // fault meets a new one. A client rightly sends a request once more, on a new connection, when a
    // kept-alive one closes before the answer, and would never see a drop on a reused connection.
    bool NewConnectionsWanted() const;

    // Puts the sandbox's address (https://127.0.0.1:PORT) in front of the pictures it serves itself.
    void ServePicturesFrom(const std::string& origin);
    // Changes one item of an account for every later answer; false without such an account. Raises
    // std::invalid_argument for an index outside the list or an item id that another item has.
    bool ChangeItem(const TSandboxItemChange& change);
    // Another bidder outbids the user on a running auction (SandboxOutbid.cpp): the item's new state, null
    // without such an account. Raises std::invalid_argument for an index outside the list, an item that is
    // no running auction, or a bidder who is its high bidder already.
    nlohmann::json Outbid(const TSandboxOutbid& outbid);

    bool HasAccount(const std::string& userName) const;
    // {"accounts": [{"username", "userId"}, ...]} in the order of the command line.
    nlohmann::json AccountList() const;
    // The account of that user name (letter case aside), or nullptr.
    const TSandboxAccount* FindAccount(const std::string& userName) const;
    // When on, HighBidder carries the immutable id of an account in place of its name, as eBay answers some
    // applications since September 2025.
    void SetHighBidderIds(bool on) { FHighBidderIds = on; }
    // The setting of the command line, which Reset brings back.
    void SetHighBidderIdsAtStart(bool on) { FHighBidderIds = FHighBidderIdsAtStart = on; }
    bool HighBidderIds() const { return FHighBidderIds; }
    const std::string& RuName() const { return FRuName; }
    // The OAuth sign-in; its access tokens serve the Trading API beside the tokens above.
    TSandboxOAuth& OAuth() { return *FOAuth; }
    // Marks the secret id as signed in by the user; false when there is no such account or no secret id.
    bool SignIn(const std::string& userName, const std::string& secretId);
    // A new valid token for the user, or nullopt without such an account.
    std::optional<std::string> IssueToken(const std::string& userName);
    // Makes a token hard-expired; false when the token is unknown.
    bool ExpireToken(const std::string& token);
    void AddFault(const TSandboxFault& fault);
    nlohmann::json RequestLog() const;
    // Back to the state after start: no sessions, tokens, faults or logged requests, and HighBidder as the
    // command line said.
    void Reset();

private:
    struct TTokenInfo {
        std::string UserName;
        bool Expired = false;
    };
    // A sign-in by secret id (ours) or by session id (GetSessionID's); UserName is empty until signed in.
    struct TSession {
        std::string UserName;
        std::string Token; // issued on the first successful FetchToken
    };

    std::string AnswerGetMyeBayBuying(const std::string& root, const TSandboxHeaders& headers,
                                      const pugi::xml_node& request, TDateTime now,
                                      std::optional<int> announcedPages);
    std::string AnswerFetchToken(const std::string& root, const pugi::xml_node& request, TDateTime now);
    std::string AnswerGetSessionID(const std::string& root, const pugi::xml_node& request, TDateTime now);
    std::string AnswerGetUser(const std::string& root, const TSandboxHeaders& headers,
                              const pugi::xml_node& request, TDateTime now);
    // The user a call's token (or OAuth access token in its header) belongs to; "" with errorAnswer set.
    std::string TokenUser(const std::string& root, const TSandboxHeaders& headers,
                          const pugi::xml_node& request, TDateTime now, std::string& errorAnswer);
    // The account as the watch list shows it: with ids in place of account names in HighBidder when asked.
    TSandboxAccount AsAnswered(const TSandboxAccount& account) const;
    // A random text of eBay's alphabet, for tokens and session ids.
    static std::string RandomText(size_t bytes);
    std::string NewTokenLocked(const std::string& userName);

    const TSandboxAppKeys FKeys;
    const std::string FRuName;
    const TDateTime FStart;
    std::vector<TSandboxAccount> FAccounts; // generated once; only items change afterwards, under FItemsLock
    mutable std::shared_mutex FItemsLock;
    std::string FPictureOrigin;
    mutable std::mutex FLock;
    std::map<std::string, TTokenInfo> FTokens;
    std::map<std::string, TSession> FSessions; // by secret id
    std::vector<TSandboxFault> FFaults;
    nlohmann::json FRequests = nlohmann::json::array();
    std::unique_ptr<TSandboxOAuth> FOAuth;
    std::atomic<bool> FHighBidderIds{false};
    bool FHighBidderIdsAtStart = false;
};
