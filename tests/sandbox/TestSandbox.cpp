#include "dialogs/FormKovaGadgetAuthorize.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformRunProgram.h"
#include "support/SandboxProcess.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <iomanip>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <thread>

namespace {

struct TKeys {
    std::string Dev = SandboxDevID, App = SandboxAppID, Cert = SandboxCertID;
};

// The header lines the gadget's calls send, the odd "&Content-Type" line included.
std::vector<std::string> ApiHeaders(const std::string& call, const TKeys& keys = {}) {
    return {"X-EBAY-API-COMPATIBILITY-LEVEL: 527",
            "X-EBAY-API-SESSION-CERTIFICATE: " + keys.Dev + ";" + keys.App + ";" + keys.Cert,
            "X-EBAY-API-DEV-NAME: " + keys.Dev,
            "X-EBAY-API-APP-NAME: " + keys.App,
            "X-EBAY-API-CERT-NAME: " + keys.Cert,
            "X-EBAY-API-SITEID: 77",
            "&Content-Type: text/xml",
            "X-EBAY-API-CALL-NAME: " + call,
            "Content-Type: text/xml"};
}

std::string WatchListBody(const std::string& token, int page, int perPage = 100) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><GetMyeBayBuyingRequest "
           "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><DetailLevel>ReturnAll</"
           "DetailLevel><RequesterCredentials>"
           "<eBayAuthToken>" +
           token +
           "</eBayAuthToken></RequesterCredentials><FavoriteSearches><Include>0</Include></FavoriteSearches>"
           "<FavoriteSellers><Include>0</Include></FavoriteSellers><WatchList><Pagination><EntriesPerPage>" +
           std::to_string(perPage) + "</EntriesPerPage><PageNumber>" + std::to_string(page) +
           "</PageNumber></Pagination></WatchList></GetMyeBayBuyingRequest>";
}

std::string FetchTokenBody(const std::string& userName, const std::string& secretId) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><FetchTokenRequest "
           "xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
           "<RequesterCredentials><Username>" +
           userName + "</Username></RequesterCredentials><SecretID>" + secretId +
           "</SecretID></FetchTokenRequest>";
}

THttpsReply Api(TSandboxProcess& sandbox, const std::string& call, const std::string& body,
                const TKeys& keys = {}) {
    return HttpsExchange({sandbox.ApiUrl(), "POST", body, ApiHeaders(call, keys), sandbox.CAPath()});
}

// True when text has the shape of pattern, where '9' stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    return true;
}

// Seconds since 1970 of a "yyyy-mm-ddThh:mm:ss" text; comparing these, not clock-hour texts, keeps counts
// independent of the hour the test runs in.
int64_t EpochSeconds(const std::string& text) {
    std::tm fields{};
    std::istringstream in(text);
    in >> std::get_time(&fields, "%Y-%m-%dT%H:%M:%S");
    EXPECT_FALSE(in.fail()) << text;
    return static_cast<int64_t>(timegm(&fields));
}

// A parsed answer; fails the test when the answer is not a complete eBay response.
struct TAnswer {
    pugi::xml_document Doc;
    pugi::xml_node Root;
    std::string Text(const char* path) const { return Root.first_element_by_path(path).text().get(); }
    int Int(const char* path) const { return Root.first_element_by_path(path).text().as_int(-1); }
};

void Parse(const THttpsReply& reply, TAnswer& answer) {
    ASSERT_EQ(reply.Code, CURLE_OK) << reply.Error;
    ASSERT_EQ(reply.Status, 200);
    ASSERT_TRUE(answer.Doc.load_string(reply.Body.c_str())) << reply.Body;
    answer.Root = answer.Doc.document_element();
    EXPECT_STREQ(answer.Root.attribute("xmlns").value(), "urn:ebay:apis:eBLBaseComponents");
    for (const char* name : {"Timestamp", "Ack", "Version", "Build"})
        EXPECT_FALSE(answer.Text(name).empty()) << name << " missing in " << reply.Body;
}

void ExpectError(const THttpsReply& reply, const std::string& root, int code) {
    TAnswer answer;
    Parse(reply, answer);
    EXPECT_EQ(answer.Root.name(), root);
    EXPECT_EQ(answer.Text("Ack"), "Failure");
    EXPECT_EQ(answer.Int("Errors/ErrorCode"), code) << reply.Body;
    EXPECT_EQ(answer.Text("Errors/SeverityCode"), "Error");
    EXPECT_FALSE(answer.Text("Errors/ShortMessage").empty());
    EXPECT_FALSE(answer.Text("Errors/LongMessage").empty());
    EXPECT_FALSE(answer.Text("Errors/ErrorClassification").empty());
}

std::vector<pugi::xml_node> Items(const TAnswer& answer) {
    std::vector<pugi::xml_node> items;
    for (pugi::xml_node item : answer.Root.first_element_by_path("WatchList/ItemArray").children("Item"))
        items.push_back(item);
    return items;
}

// Every item of an account, page by page.
std::string AllPagesWithoutTimes(TSandboxProcess& sandbox, const std::string& userName) {
    const std::string token = sandbox.Token(userName);
    std::string text;
    for (int page = 1; page <= 3; ++page) {
        TAnswer answer;
        Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, page)), answer);
        for (pugi::xml_node item : Items(answer)) {
            item.remove_child("ListingDetails"); // times depend on when each sandbox started
            item.remove_child("TimeLeft");
            // Pictures are named with each sandbox's own address.
            pugi::xml_text picture = item.first_element_by_path("PictureDetails/GalleryURL").text();
            if (std::string url = picture.get(); url.starts_with(sandbox.Url()))
                picture.set(url.substr(sandbox.Url().size()).c_str());
            std::ostringstream out;
            item.print(out);
            text += out.str();
        }
    }
    return text;
}

// One curl handle for several API requests, so that the connection is kept when the server allows it.
class TKeptConnection {
public:
    explicit TKeptConnection(TSandboxProcess& sandbox) : FEasy(curl_easy_init()) {
        for (const std::string& header : ApiHeaders("GetMyeBayBuying"))
            FHeaders = curl_slist_append(FHeaders, header.c_str());
        curl_easy_setopt(FEasy, CURLOPT_URL, sandbox.ApiUrl().c_str());
        curl_easy_setopt(FEasy, CURLOPT_CAINFO, sandbox.CAPath().c_str());
        curl_easy_setopt(FEasy, CURLOPT_HTTPHEADER, FHeaders);
        curl_easy_setopt(FEasy, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(FEasy, CURLOPT_TIMEOUT_MS, 15000L);
        curl_easy_setopt(
            FEasy, CURLOPT_WRITEFUNCTION,
            +[](char*, size_t size, size_t count, void*) { return size * count; });
    }
    ~TKeptConnection() {
        curl_easy_cleanup(FEasy);
        curl_slist_free_all(FHeaders);
    }

    // The outcome and how many connections the request had to open.
    std::pair<CURLcode, long> Post(const std::string& body) {
        curl_easy_setopt(FEasy, CURLOPT_COPYPOSTFIELDS, body.c_str());
        const CURLcode code = curl_easy_perform(FEasy);
        long connections = 0;
        curl_easy_getinfo(FEasy, CURLINFO_NUM_CONNECTS, &connections);
        return {code, connections};
    }

private:
    CURL* FEasy;
    curl_slist* FHeaders = nullptr;
};

} // namespace

TEST(Sandbox, PrintsItsUrlAndIsTrustedThroughItsCAUnderBothHostNames) {
    TSandboxProcess sandbox;
    EXPECT_EQ(sandbox.Url(), "https://127.0.0.1:" + std::to_string(sandbox.Port()));
    EXPECT_GT(sandbox.Port(), 0);
    EXPECT_TRUE(FileExists(sandbox.CAPath()));

    const std::string localhost =
        "https://localhost:" + std::to_string(sandbox.Port()) + "/signin?runame=R&sid=S";
    for (const std::string& url : {sandbox.Url() + "/signin?runame=R&sid=S", localhost}) {
        const THttpsReply reply = HttpsExchange({url, "GET", "", {}, sandbox.CAPath()});
        EXPECT_EQ(reply.Code, CURLE_OK) << url << ": " << reply.Error;
        EXPECT_EQ(reply.Status, 200) << url;
    }

    // Another CA does not vouch for it: verification is real.
    TSandboxProcess stranger;
    const THttpsReply untrusted =
        HttpsExchange({sandbox.Url() + "/signin?sid=S", "GET", "", {}, stranger.CAPath()});
    EXPECT_EQ(untrusted.Code, CURLE_PEER_FAILED_VERIFICATION) << untrusted.Error;
}

TEST(Sandbox, PagesAWatchListWithTotals) {
    TSandboxProcess sandbox({"collector:250", "nobody:0"});
    const std::string token = sandbox.Token("collector");
    std::set<std::string> ids;
    const int expectedCounts[] = {100, 100, 50, 0};
    for (int page = 1; page <= 4; ++page) {
        TAnswer answer;
        Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, page)), answer);
        EXPECT_EQ(answer.Root.name(), std::string("GetMyeBayBuyingResponse"));
        EXPECT_EQ(answer.Text("Ack"), "Success");
        EXPECT_EQ(answer.Int("WatchList/PaginationResult/TotalNumberOfPages"), 3) << "page " << page;
        EXPECT_EQ(answer.Int("WatchList/PaginationResult/TotalNumberOfEntries"), 250) << "page " << page;
        ASSERT_TRUE(answer.Root.first_element_by_path("WatchList/ItemArray")) << "page " << page;
        const auto items = Items(answer);
        EXPECT_EQ(items.size(), static_cast<size_t>(expectedCounts[page - 1])) << "page " << page;
        for (pugi::xml_node item : items)
            ids.insert(item.child_value("ItemID"));
    }
    EXPECT_EQ(ids.size(), 250u) << "every item once across the pages";

    TAnswer smallPages;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 2, 7)), smallPages);
    EXPECT_EQ(Items(smallPages).size(), 7u);
    EXPECT_EQ(smallPages.Int("WatchList/PaginationResult/TotalNumberOfPages"), 36);

    TAnswer empty;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("nobody"), 1)), empty);
    EXPECT_EQ(empty.Text("Ack"), "Success");
    EXPECT_TRUE(empty.Root.first_element_by_path("WatchList/ItemArray"));
    EXPECT_TRUE(Items(empty).empty());
    EXPECT_EQ(empty.Int("WatchList/PaginationResult/TotalNumberOfPages"), 0);
    EXPECT_EQ(empty.Int("WatchList/PaginationResult/TotalNumberOfEntries"), 0);
}

TEST(Sandbox, GeneratedItemsCoverWhatTheGadgetShows) {
    TSandboxProcess sandbox({"collector:200"});
    TAnswer answer;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("collector"), 1, 200)), answer);
    const std::string now = answer.Text("Timestamp");
    std::set<std::string> sites, currencies, types;
    int umlauts = 0, ampersands = 0, angles = 0, quotes = 0, gallery = 0, noGallery = 0, bids = 0,
        ownBids = 0, shipping = 0, noShipping = 0, buyItNow = 0, ended = 0, soon = 0, later = 0;
    for (pugi::xml_node item : Items(answer)) {
        const std::string title = item.child_value("Title");
        umlauts += title.find("ö") != std::string::npos || title.find("ä") != std::string::npos;
        ampersands += title.find('&') != std::string::npos;
        angles += title.find('<') != std::string::npos;
        quotes += title.find('"') != std::string::npos;
        sites.insert(item.child_value("Site"));
        currencies.insert(
            item.first_element_by_path("SellingStatus/CurrentPrice").attribute("currencyID").value());
        types.insert(item.child_value("ListingType"));
        const std::string galleryUrl = item.first_element_by_path("PictureDetails/GalleryURL").text().get();
        (galleryUrl.empty() ? noGallery : gallery)++;
        bids += item.first_element_by_path("SellingStatus/BidCount").text().as_int() > 0;
        ownBids += std::string(item.first_element_by_path("SellingStatus/HighBidder/UserID").text().get()) ==
                   "collector";
        (item.first_element_by_path("ShippingDetails/ShippingServiceOptions/ShippingServiceCost")
             ? shipping
             : noShipping)++;
        buyItNow += item.child("BuyItNowPrice") ? 1 : 0;
        const std::string start = item.first_element_by_path("ListingDetails/StartTime").text().get();
        const std::string end = item.first_element_by_path("ListingDetails/EndTime").text().get();
        EXPECT_TRUE(HasShape(end, "9999-99-99T99:99:99.999Z")) << end;
        EXPECT_LE(start, now) << "a watched listing has started";
        EXPECT_LT(start, end);
        const int64_t left = EpochSeconds(end) - EpochSeconds(now);
        if (left < 0)
            ++ended;
        else if (left < 3600)
            ++soon;
        else if (left >= 24 * 3600)
            ++later;
        EXPECT_FALSE(
            std::string(item.first_element_by_path("ListingDetails/ViewItemURL").text().get()).empty());
        EXPECT_FALSE(std::string(item.first_element_by_path("Seller/UserID").text().get()).empty());
    }
    EXPECT_GT(umlauts, 0);
    EXPECT_GT(ampersands, 0);
    EXPECT_GT(angles, 0);
    EXPECT_GT(quotes, 0);
    EXPECT_GE(sites.size(), 5u);
    EXPECT_GE(currencies.size(), 4u);
    EXPECT_TRUE(types.count("Chinese") && types.count("FixedPriceItem"));
    EXPECT_GT(gallery, 0);
    EXPECT_GT(noGallery, 0);
    EXPECT_GT(bids, 0);
    EXPECT_GT(ownBids, 0);
    EXPECT_GT(shipping, 0);
    EXPECT_GT(noShipping, 0);
    EXPECT_GT(buyItNow, 0);
    EXPECT_GT(ended, 0);
    EXPECT_GT(soon, 0);
    EXPECT_GT(later, 0);
}

TEST(Sandbox, TheSameSeedGivesTheSameWatchList) {
    TSandboxProcess first({"demo:250"}, {"--seed", "42"});
    TSandboxProcess second({"demo:250"}, {"--seed", "42"});
    TSandboxProcess other({"demo:250"}, {"--seed", "43"});
    const std::string items = AllPagesWithoutTimes(first, "demo");
    EXPECT_FALSE(items.empty());
    EXPECT_EQ(items, AllPagesWithoutTimes(second, "demo"));
    EXPECT_NE(items, AllPagesWithoutTimes(other, "demo"));
}

TEST(Sandbox, ServesItsItemsPicturesItself) {
    TSandboxProcess sandbox({"demo:6"});
    TAnswer answer;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("demo"), 1)), answer);
    int pictures = 0;
    for (pugi::xml_node item : Items(answer)) {
        const std::string url = item.first_element_by_path("PictureDetails/GalleryURL").text().get();
        if (url.empty()) continue;
        ++pictures;
        ASSERT_TRUE(url.starts_with(sandbox.Url() + "/pictures/")) << url;
        const THttpsReply picture = HttpsExchange({url, "GET", "", {}, sandbox.CAPath()});
        EXPECT_EQ(picture.Status, 200) << url;
        EXPECT_TRUE(picture.Body.starts_with("<svg ")) << url;
        pugi::xml_document svg;
        EXPECT_TRUE(svg.load_string(picture.Body.c_str())) << url;
    }
    EXPECT_EQ(pictures, 4);
    for (const char* path : {"/pictures/dragon/abc.svg", "/pictures/book/a%2Fb.svg", "/pictures/book/.svg"})
        EXPECT_EQ(HttpsExchange({sandbox.Url() + path, "GET", "", {}, sandbox.CAPath()}).Status, 404) << path;
}

TEST(Sandbox, ItemChangesReachTheNextAnswer) {
    TSandboxProcess sandbox({"demo:3", "empty:0"});
    const std::string title = "\u05d7\u05e0\u05d5\u05ea " + std::string(200000, 'W');
    sandbox.Control("/sandbox/item", {{"username", "demo"},
                                      {"index", 1},
                                      {"itemId", "110-22/33"},
                                      {"title", title},
                                      {"seller", "\u0645\u062a\u062c\u0631"},
                                      {"galleryUrl", "/pictures/book/x.svg"}});
    TAnswer answer;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("demo"), 1)), answer);
    const pugi::xml_node changed = Items(answer).at(1);
    EXPECT_STREQ(changed.child_value("ItemID"), "110-22/33");
    EXPECT_EQ(changed.child_value("Title"), title);
    EXPECT_STREQ(changed.first_element_by_path("Seller/UserID").text().get(), "\u0645\u062a\u062c\u0631");
    EXPECT_EQ(std::string(changed.first_element_by_path("PictureDetails/GalleryURL").text().get()),
              sandbox.Url() + "/pictures/book/x.svg");
    EXPECT_TRUE(std::string(changed.first_element_by_path("ListingDetails/ViewItemURL").text().get())
                    .ends_with("/itm/110-22/33"));

    const std::string otherId = Items(answer).at(0).child_value("ItemID");
    const std::vector<std::pair<nlohmann::json, long>> refused{
        {{{"username", "nobody"}, {"index", 0}}, 404},
        {{{"username", "empty"}, {"index", 0}}, 400},
        {{{"username", "demo"}, {"index", 3}}, 400},
        {{{"username", "demo"}}, 400},
        {{{"username", "demo"}, {"index", 0}, {"itemId", ""}}, 400},
        {{{"username", "demo"}, {"index", 1}, {"itemId", otherId}}, 400},
        {{{"username", "demo"}, {"index", 0}, {"title", 5}}, 400},
    };
    for (const auto& [body, status] : refused) {
        const THttpsReply reply = HttpsExchange({sandbox.Url() + "/sandbox/item",
                                                 "POST",
                                                 body.dump(),
                                                 {"Content-Type: application/json"},
                                                 sandbox.CAPath()});
        EXPECT_EQ(reply.Status, status) << body.dump() << ": " << reply.Body;
        EXPECT_NE(reply.Body.find("\"error\""), std::string::npos) << body.dump();
    }
}

TEST(Sandbox, AnswersErrorsAsEbayDoes) {
    TSandboxProcess sandbox({"demo:3"}, {"--app-keys", "MyDev:MyApp:MyCert"});
    const TKeys keys{"MyDev", "MyApp", "MyCert"};
    const std::string token = sandbox.Token("demo");

    TAnswer accepted;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1), keys), accepted);
    EXPECT_EQ(accepted.Text("Ack"), "Success");

    ExpectError(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1)), "GetMyeBayBuyingResponse", 127);
    ExpectError(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1), {"MyDev", "MyApp", "Wrong"}),
                "GetMyeBayBuyingResponse", 127);
    ExpectError(Api(sandbox, "GetSellerList", WatchListBody(token, 1), keys), "GetSellerListResponse", 2);
    ExpectError(Api(sandbox, "GetMyeBayBuying", WatchListBody("AgAAAA**forged", 1), keys),
                "GetMyeBayBuyingResponse", 931);
    ExpectError(Api(sandbox, "GetMyeBayBuying", "<GetMyeBayBuyingRequest><oops>", keys),
                "GetMyeBayBuyingResponse", 5);

    std::vector<std::string> badSite = ApiHeaders("GetMyeBayBuying", keys);
    badSite[5] = "X-EBAY-API-SITEID: DE";
    ExpectError(HttpsExchange({sandbox.ApiUrl(), "POST", WatchListBody(token, 1), badSite, sandbox.CAPath()}),
                "GetMyeBayBuyingResponse", 10012);

    sandbox.Expire(token);
    ExpectError(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1), keys), "GetMyeBayBuyingResponse",
                932);
    TAnswer fresh;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("demo"), 1), keys), fresh);
    EXPECT_EQ(fresh.Text("Ack"), "Success") << "expiring one token leaves the others valid";
}

TEST(Sandbox, SignInPageThenFetchToken) {
    TSandboxProcess sandbox({"demo:5"});
    const std::string sid = "8F2C1B7A-1111-4C2D-9E3F-0123456789AB";
    ExpectError(Api(sandbox, "FetchToken", FetchTokenBody("demo", sid)), "FetchTokenResponse", 21916017);

    const THttpsReply page = HttpsExchange(
        {sandbox.Url() + "/signin?runame=Kova%3Cb%3E-RuName&sid=" + sid, "GET", "", {}, sandbox.CAPath()});
    ASSERT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("action=\"/signin\""), std::string::npos);
    EXPECT_NE(page.Body.find("name=\"username\""), std::string::npos);
    EXPECT_NE(page.Body.find("I agree"), std::string::npos);
    EXPECT_NE(page.Body.find("Kova&lt;b&gt;-RuName"), std::string::npos) << "the RuName is echoed, escaped";
    EXPECT_EQ(page.Body.find("Kova<b>"), std::string::npos);

    const auto post = [&](const std::string& form) {
        return HttpsExchange({sandbox.Url() + "/signin",
                              "POST",
                              form,
                              {"Content-Type: application/x-www-form-urlencoded"},
                              sandbox.CAPath()});
    };
    const THttpsReply unknown = post("runame=R&sid=" + sid + "&username=mallory&agree=1");
    EXPECT_EQ(unknown.Status, 403);
    ExpectError(Api(sandbox, "FetchToken", FetchTokenBody("mallory", sid)), "FetchTokenResponse", 21916017);

    const THttpsReply agreed = post("runame=R&sid=" + sid + "&username=demo&agree=1");
    EXPECT_EQ(agreed.Status, 200) << agreed.Body;
    ExpectError(Api(sandbox, "FetchToken", FetchTokenBody("someoneelse", sid)), "FetchTokenResponse",
                21916017);

    TAnswer fetched;
    Parse(Api(sandbox, "FetchToken", FetchTokenBody("demo", sid)), fetched);
    EXPECT_EQ(fetched.Root.name(), std::string("FetchTokenResponse"));
    EXPECT_EQ(fetched.Text("Ack"), "Success");
    const std::string token = fetched.Text("eBayAuthToken");
    EXPECT_GT(token.size(), 100u);
    EXPECT_FALSE(fetched.Text("HardExpirationTime").empty());
    TAnswer again;
    Parse(Api(sandbox, "FetchToken", FetchTokenBody("demo", sid)), again);
    EXPECT_EQ(again.Text("eBayAuthToken"), token) << "fetching twice gives the same token";

    TAnswer list;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1)), list);
    EXPECT_EQ(Items(list).size(), 5u);

    sandbox.SignIn("demo", "control-sid");
    TAnswer viaControl;
    Parse(Api(sandbox, "FetchToken", FetchTokenBody("demo", "control-sid")), viaControl);
    EXPECT_FALSE(viaControl.Text("eBayAuthToken").empty());
}

TEST(Sandbox, SessionsOfItsOwnForTheGadgetsRedirectName) {
    EXPECT_STREQ(SandboxRuName, KovaGadgetRuName) << "the demo's sandbox accepts the gadget's RuName";
    TSandboxProcess sandbox({"demo:5"});
    const auto sessionBody = [](const std::string& ruName) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><GetSessionIDRequest "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><RuName>" +
               ruName + "</RuName></GetSessionIDRequest>";
    };
    const auto fetchBody = [](const std::string& sessionId) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><FetchTokenRequest "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><SessionID>" +
               sessionId + "</SessionID></FetchTokenRequest>";
    };
    ExpectError(Api(sandbox, "GetSessionID", sessionBody("Someone-Else")), "GetSessionIDResponse", 37);
    TAnswer session;
    Parse(Api(sandbox, "GetSessionID", sessionBody(KovaGadgetRuName)), session);
    const std::string sessionId = session.Text("SessionID");
    ASSERT_GE(sessionId.size(), 30u);
    EXPECT_EQ(sessionId.find_first_of("+/=&%"), std::string::npos) << "fits a link as it is";
    ExpectError(Api(sandbox, "FetchToken", fetchBody(sessionId)), "FetchTokenResponse", 21916017);
    ExpectError(Api(sandbox, "FetchToken", fetchBody("made-up")), "FetchTokenResponse", 21916017);

    const THttpsReply page =
        HttpsExchange({sandbox.Url() + "/signin?runame=" + KovaGadgetRuName + "&SessID=" + sessionId,
                       "GET",
                       "",
                       {},
                       sandbox.CAPath()});
    EXPECT_EQ(page.Status, 200);
    sandbox.SignIn("demo", sessionId);
    TAnswer fetched;
    Parse(Api(sandbox, "FetchToken", fetchBody(sessionId)), fetched);
    const std::string token = fetched.Text("eBayAuthToken");
    TAnswer list;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1)), list);
    EXPECT_EQ(Items(list).size(), 5u);
}

TEST(Sandbox, InjectsEachFaultKindOnMatchingRequestsOnly) {
    TSandboxProcess sandbox({"demo:250"});
    const std::string token = sandbox.Token("demo");
    const auto page = [&](int number) {
        return Api(sandbox, "GetMyeBayBuying", WatchListBody(token, number));
    };
    const auto expectNormal = [&](int number) {
        TAnswer answer;
        Parse(page(number), answer);
        EXPECT_EQ(answer.Text("Ack"), "Success") << "page " << number;
    };

    sandbox.Fault(
        {{"call", "GetMyeBayBuying"}, {"page", 2}, {"times", 2}, {"kind", "status"}, {"status", 503}});
    expectNormal(1);
    EXPECT_EQ(page(2).Status, 503);
    EXPECT_EQ(page(2).Status, 503);
    expectNormal(2);

    sandbox.Fault({{"call", "FetchToken"}, {"kind", "empty"}});
    expectNormal(1);
    const THttpsReply emptyToken = Api(sandbox, "FetchToken", FetchTokenBody("demo", "x"));
    EXPECT_EQ(emptyToken.Status, 200);
    EXPECT_TRUE(emptyToken.Body.empty());

    sandbox.Fault({{"kind", "notxml"}});
    const THttpsReply garbage = page(1);
    EXPECT_EQ(garbage.Status, 200);
    EXPECT_FALSE(garbage.Body.empty());
    EXPECT_FALSE(pugi::xml_document().load_string(garbage.Body.c_str()));

    sandbox.Fault(
        {{"kind", "xml"}, {"body", "<GetMyeBayBuyingResponse><Ack>Warning</Ack></GetMyeBayBuyingResponse>"}});
    EXPECT_EQ(page(1).Body, "<GetMyeBayBuyingResponse><Ack>Warning</Ack></GetMyeBayBuyingResponse>");

    sandbox.Fault({{"kind", "truncated"}});
    const THttpsReply truncated = page(1);
    EXPECT_EQ(truncated.Code, CURLE_PARTIAL_FILE) << truncated.Error;
    EXPECT_GT(truncated.Body.size(), 1000u);

    sandbox.Fault({{"kind", "drop"}});
    const THttpsReply dropped = page(1);
    EXPECT_NE(dropped.Code, CURLE_OK);
    EXPECT_EQ(dropped.Status, 0) << "no status line arrives";
    EXPECT_TRUE(dropped.Body.empty());

    sandbox.Fault({{"kind", "delay"}, {"ms", 700}});
    const auto before = std::chrono::steady_clock::now();
    expectNormal(1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(700));
    expectNormal(3);

    for (const nlohmann::json& bad :
         {nlohmann::json{{"kind", "meteor"}}, nlohmann::json{{"kind", "status"}, {"status", 42}},
          nlohmann::json{{"kind", "xml"}}, nlohmann::json{{"kind", "delay"}, {"times", 0}},
          nlohmann::json{{"kind", "trickle"}, {"ms", -1}}, nlohmann::json{{"kind", "badcert"}, {"page", 2}},
          nlohmann::json{{"kind", "badcert"}, {"after", -1}}, nlohmann::json{{"kind", "pages"}},
          nlohmann::json{{"kind", "pages"}, {"count", -3}}}) {
        const THttpsReply rejected = HttpsExchange({sandbox.Url() + "/sandbox/fault",
                                                    "POST",
                                                    bad.dump(),
                                                    {"Content-Type: application/json"},
                                                    sandbox.CAPath()});
        EXPECT_EQ(rejected.Status, 400) << bad.dump();
    }
    expectNormal(1);
}

TEST(Sandbox, TrickleSendsTheWholeAnswerSlowlyAndGivesUpOnAClientThatLeft) {
    TSandboxProcess sandbox({"demo:1"});
    sandbox.Fault({{"call", "FetchToken"}, {"kind", "trickle"}, {"ms", 2}});
    const auto started = std::chrono::steady_clock::now();
    const THttpsReply slow = Api(sandbox, "FetchToken", FetchTokenBody("demo", "sid"));
    ExpectError(slow, "FetchTokenResponse", 21916017);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * slow.Body.size()));

    // More abandoned trickles than the server has threads: each must end when its client leaves, or the
    // request after them waits for ever.
    sandbox.Fault({{"kind", "trickle"}, {"times", 10}});
    const std::string body = WatchListBody(sandbox.Token("demo"), 1);
    for (int i = 0; i < 10; ++i) {
        const THttpsReply abandoned = HttpsExchange(
            {sandbox.ApiUrl(), "POST", body, ApiHeaders("GetMyeBayBuying"), sandbox.CAPath(), 1000});
        EXPECT_EQ(abandoned.Code, CURLE_OPERATION_TIMEDOUT) << abandoned.Error;
        EXPECT_EQ(abandoned.Status, 200) << "the status line comes at once";
    }
    const THttpsReply after = HttpsExchange(
        {sandbox.ApiUrl(), "POST", body, ApiHeaders("GetMyeBayBuying"), sandbox.CAPath(), 3000});
    EXPECT_EQ(after.Code, CURLE_OK) << after.Error;

    // A client still reading does not keep the sandbox from stopping.
    sandbox.Fault({{"kind", "trickle"}});
    std::thread reader([&] {
        HttpsExchange({sandbox.ApiUrl(), "POST", body, ApiHeaders("GetMyeBayBuying"), sandbox.CAPath()});
    });
    const auto sending = std::chrono::steady_clock::now();
    while (sandbox.Requests().size() < 13 &&
           std::chrono::steady_clock::now() - sending < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(sandbox.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(1));
    reader.join();
}

TEST(Sandbox, BadCertificateFailsTheNamedNewConnectionsOnly) {
    TSandboxProcess sandbox({"demo:3"});
    const std::string body = WatchListBody(sandbox.Token("demo"), 1);
    TKeptConnection connection(sandbox);
    EXPECT_EQ(connection.Post(body), std::make_pair(CURLE_OK, 1L));
    EXPECT_EQ(connection.Post(body), std::make_pair(CURLE_OK, 0L)) << "connections are kept without a fault";

    sandbox.Fault({{"kind", "badcert"}, {"after", 1}, {"times", 2}});
    // The kept connection does not count, but its answer asks for a new one; so does the next one's, and
    // the connection after the fault is kept again.
    const std::pair<CURLcode, long> steps[] = {{CURLE_OK, 0},
                                               {CURLE_OK, 1},
                                               {CURLE_PEER_FAILED_VERIFICATION, 1},
                                               {CURLE_PEER_FAILED_VERIFICATION, 1},
                                               {CURLE_OK, 1},
                                               {CURLE_OK, 0}};
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(connection.Post(body), steps[i]) << "request " << i;
}

// A connection serves many requests, as eBay's do; a drop meets a request on a new connection, since a
// client rightly tries again on a new one when a kept-alive connection closes before answering; an answer
// is gzip-compressed when the request accepts it.
TEST(Sandbox, ConnectionsServeManyRequestsADropMeetsANewOneAndAnswersAreCompressedWhenAsked) {
    TSandboxProcess sandbox({"demo:250"});
    const std::string token = sandbox.Token("demo");
    TKeptConnection connection(sandbox);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(connection.Post(WatchListBody(token, 1)), std::make_pair(CURLE_OK, i == 0 ? 1L : 0L))
            << "request " << i;

    sandbox.Fault({{"call", "GetMyeBayBuying"}, {"page", 2}, {"kind", "drop"}});
    const std::pair<int, std::pair<CURLcode, long>> steps[] = {
        {1, {CURLE_OK, 0}}, {2, {CURLE_GOT_NOTHING, 1}}, {1, {CURLE_OK, 1}}, {1, {CURLE_OK, 0}}};
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(connection.Post(WatchListBody(token, steps[i].first)), steps[i].second) << "step " << i;

    std::vector<std::string> headers = ApiHeaders("GetMyeBayBuying");
    const THttpsReply plain =
        HttpsExchange({sandbox.ApiUrl(), "POST", WatchListBody(token, 1), headers, sandbox.CAPath()});
    headers.push_back("Accept-Encoding: gzip");
    const THttpsReply compressed =
        HttpsExchange({sandbox.ApiUrl(), "POST", WatchListBody(token, 1), headers, sandbox.CAPath()});
    ASSERT_EQ(plain.Status, 200);
    ASSERT_EQ(compressed.Status, 200);
    EXPECT_EQ(plain.Body.rfind("<?xml", 0), 0u);
    EXPECT_EQ(compressed.Body.rfind("\x1f\x8b", 0), 0u)
        << "a gzip stream, left undecoded by the raw exchange";
    EXPECT_LT(compressed.Body.size() * 4, plain.Body.size());
}

TEST(Sandbox, PagesFaultAnnouncesItsCountAndEmptyPagesPastTheRealOnes) {
    TSandboxProcess sandbox({"demo:250"});
    const std::string token = sandbox.Token("demo");
    struct TCase {
        int Count, Page;
        size_t Items;
        int Pages, Entries;
    };
    const TCase cases[] = {{1000000, 1, 100, 1000000, 100000000},
                           {1000000, 3, 50, 1000000, 100000000},
                           {1000000, 7, 0, 1000000, 100000000},
                           {1, 1, 100, 1, 100},
                           {3, 2, 100, 3, 250},
                           {0, 1, 100, 0, 0}};
    for (const TCase& c : cases) {
        sandbox.Fault({{"kind", "pages"}, {"count", c.Count}});
        // Only a watch list answer takes the fault; other calls leave it queued.
        Api(sandbox, "FetchToken", FetchTokenBody("demo", "sid"));
        TAnswer answer;
        Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, c.Page)), answer);
        EXPECT_EQ(answer.Text("Ack"), "Success") << c.Count << " page " << c.Page;
        EXPECT_EQ(Items(answer).size(), c.Items) << c.Count << " page " << c.Page;
        EXPECT_EQ(answer.Int("WatchList/PaginationResult/TotalNumberOfPages"), c.Pages) << c.Count;
        EXPECT_EQ(answer.Int("WatchList/PaginationResult/TotalNumberOfEntries"), c.Entries) << c.Count;
    }
    TAnswer real;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1)), real);
    EXPECT_EQ(real.Int("WatchList/PaginationResult/TotalNumberOfPages"), 3) << "each fault served once";
}

TEST(Sandbox, LatencyDelaysEveryApiAnswer) {
    TSandboxProcess sandbox({"demo:1"}, {"--latency-ms", "300"});
    const std::string token = sandbox.Token("demo");
    for (const std::string call : {"GetMyeBayBuying", "FetchToken"}) {
        const auto started = std::chrono::steady_clock::now();
        const std::string body =
            call == "FetchToken" ? FetchTokenBody("demo", "sid") : WatchListBody(token, 1);
        EXPECT_EQ(Api(sandbox, call, body).Status, 200);
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300)) << call;
    }
    const TProgramRun help = RunProgram(std::string(KOVA_BIN_DIR) + "/kova-sandbox", {"--help"});
    EXPECT_NE(help.Output.find("--latency-ms N"), std::string::npos) << help.Output;
}

TEST(Sandbox, LogsApiRequestsInOrderAndResets) {
    TSandboxProcess sandbox({"demo:3"});
    const std::string token = sandbox.Token("demo");
    Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1));
    Api(sandbox, "FetchToken", FetchTokenBody("demo", "sid-1"));

    const nlohmann::json requests = sandbox.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]["call"], "GetMyeBayBuying");
    EXPECT_EQ(requests[0]["page"], 1);
    EXPECT_EQ(requests[0]["body"], WatchListBody(token, 1));
    EXPECT_EQ(requests[0]["headers"]["X-EBAY-API-SITEID"], "77");
    EXPECT_EQ(requests[0]["headers"]["&Content-Type"], "text/xml");
    EXPECT_EQ(requests[0]["headers"]["X-EBAY-API-SESSION-CERTIFICATE"],
              std::string(SandboxDevID) + ";" + SandboxAppID + ";" + SandboxCertID);
    EXPECT_EQ(requests[1]["call"], "FetchToken");

    sandbox.Fault({{"kind", "status"}, {"status", 500}});
    sandbox.SignIn("demo", "sid-2");
    sandbox.Reset();
    EXPECT_TRUE(sandbox.Requests().empty());
    ExpectError(Api(sandbox, "GetMyeBayBuying", WatchListBody(token, 1)), "GetMyeBayBuyingResponse", 931);
    ExpectError(Api(sandbox, "FetchToken", FetchTokenBody("demo", "sid-2")), "FetchTokenResponse", 21916017);
    TAnswer afterReset;
    Parse(Api(sandbox, "GetMyeBayBuying", WatchListBody(sandbox.Token("demo"), 1)), afterReset);
    EXPECT_EQ(Items(afterReset).size(), 3u) << "the accounts survive a reset, the fault does not";
}

TEST(Sandbox, StopsCleanlyOnSignalsEvenWithARequestWaiting) {
    TSandboxProcess idle({"demo:1"});
    HttpsExchange({idle.Url() + "/signin?sid=S", "GET", "", {}, idle.CAPath()});
    kill(idle.Pid(), SIGINT);
    EXPECT_EQ(idle.Stop(), 0);

    // A request held by a long delay must not keep the sandbox alive.
    TSandboxProcess busy({"demo:1"});
    busy.Fault({{"kind", "delay"}, {"ms", 60000}});
    const std::string body = WatchListBody(busy.Token("demo"), 1);
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const std::string& header : ApiHeaders("GetMyeBayBuying"))
        headers = curl_slist_append(headers, header.c_str());
    curl_easy_setopt(easy, CURLOPT_URL, busy.ApiUrl().c_str());
    curl_easy_setopt(easy, CURLOPT_CAINFO, busy.CAPath().c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, easy);
    int running = 1;
    // Pump the transfer until the sandbox has logged the request (it then sits in the delay).
    const auto sending = std::chrono::steady_clock::now();
    bool arrived = false;
    while (running && !arrived && std::chrono::steady_clock::now() - sending < std::chrono::seconds(10)) {
        curl_multi_perform(multi, &running);
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
        arrived = busy.Requests().size() == 1;
    }
    EXPECT_TRUE(arrived) << "the request has arrived and waits";
    EXPECT_EQ(running, 1);
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_EQ(busy.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(10));
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
}

TEST(Sandbox, RejectsBadArguments) {
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--help"}), 0) << "--help is no failure";
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", "x", "--runame", " "}), 2);

    TTempDir dir;
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--account", "demo:1"}), 2) << "no state dir";
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--account", "demo:401"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--account", "demo"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--app-keys", "a:b"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--port", "70000"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--latency-ms", "-5"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", dir.Path(), "--item-outbid", "demo:1"}),
              2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure(
                  {"--state-dir", dir.Path(), "--account", "demo:3", "--item-outbid", "nobody:1:5"}),
              1)
        << "an outbid for an account the sandbox does not have";
}

TEST(Sandbox, AnotherBidderOutbidsTheUserOnARunningAuctionOnly) {
    TSandboxProcess sandbox({"demo:12"});
    // Fixed-price offers are refused until the first auction in the list's order (by end time) is met.
    const auto post = [&](const nlohmann::json& body) {
        return HttpsExchange({sandbox.Url() + "/sandbox/outbid",
                              "POST",
                              body.dump(),
                              {"Content-Type: application/json"},
                              sandbox.CAPath()});
    };
    int auction = -1;
    for (int index = 0; index < 12 && auction < 0; ++index) {
        sandbox.Control("/sandbox/item", {{"username", "demo"}, {"index", index}, {"endsInSeconds", 600}});
        const THttpsReply reply = post({{"username", "demo"}, {"index", index}});
        if (reply.Status == 200) {
            auction = index;
            const auto state = nlohmann::json::parse(reply.Body);
            EXPECT_EQ(state["highBidder"], "rival_bidder");
            EXPECT_GE(state["bids"], 1);
        } else {
            EXPECT_EQ(reply.Status, 400) << reply.Body;
            EXPECT_NE(reply.Body.find("no auction"), std::string::npos) << reply.Body;
        }
    }
    ASSERT_GE(auction, 0);
    const struct {
        nlohmann::json Body;
        long Status;
        const char* Error;
    } refused[] = {
        {{{"username", "demo"}, {"index", auction}}, 400, "is the high bidder already"},
        {{{"username", "demo"}, {"index", 12}}, 400, "position of an item"},
        {{{"username", "demo"}}, 400, "position of an item"},
        {{{"username", "nobody"}, {"index", 0}}, 404, "no account"},
        {{{"username", "demo"}, {"index", auction}, {"bidder", ""}}, 400, "must be a non-empty string"},
    };
    for (const auto& c : refused) {
        const THttpsReply reply = post(c.Body);
        EXPECT_EQ(reply.Status, c.Status) << c.Body.dump();
        EXPECT_NE(reply.Body.find(c.Error), std::string::npos) << reply.Body;
    }
    sandbox.Control("/sandbox/item", {{"username", "demo"}, {"index", auction}, {"endsInSeconds", -5}});
    const THttpsReply ended = post({{"username", "demo"}, {"index", auction}, {"bidder", "third"}});
    EXPECT_EQ(ended.Status, 400);
    EXPECT_NE(ended.Body.find("has ended"), std::string::npos) << ended.Body;
}
