#include "SandboxResponses.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

namespace {

constexpr const char* ApiVersion = "1193";
constexpr const char* ApiBuild = "E1193_CORE_APIMSG_19131591_R1";

std::string PriceText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

pugi::xml_node AddText(pugi::xml_node parent, const char* name, const std::string& text) {
    pugi::xml_node node = parent.append_child(name);
    node.text().set(text.c_str());
    return node;
}

void AddAmount(pugi::xml_node parent, const char* name, double value, const std::string& currency) {
    pugi::xml_node node = AddText(parent, name, PriceText(value));
    node.append_attribute("currencyID").set_value(currency.c_str());
}

// Starts a response document; the payload goes between Build and the end tag, as eBay orders them.
pugi::xml_node StartResponse(pugi::xml_document& doc, const std::string& rootName, const char* ack,
                             TDateTime now) {
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
    pugi::xml_node root = doc.append_child(rootName.c_str());
    root.append_attribute("xmlns").set_value("urn:ebay:apis:eBLBaseComponents");
    AddText(root, "Timestamp", SandboxTimeText(now));
    AddText(root, "Ack", ack);
    return root;
}

void AddVersion(pugi::xml_node root) {
    AddText(root, "Version", ApiVersion);
    AddText(root, "Build", ApiBuild);
}

std::string Save(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_indent, pugi::encoding_utf8);
    return out.str();
}

// eBay's duration text for the time left, for example P2DT3H15M0S; PT0S once the listing has ended.
std::string TimeLeftText(TDateTime end, TDateTime now) {
    const long long seconds = std::max(0LL, static_cast<long long>((end - now) * SecsPerDay));
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "P%lldDT%lldH%lldM%lldS", seconds / 86400, seconds / 3600 % 24,
                  seconds / 60 % 60, seconds % 60);
    return buffer;
}

void AddItem(pugi::xml_node array, const TSandboxItem& item, TDateTime now) {
    pugi::xml_node node = array.append_child("Item");
    if (item.BuyItNowPrice > 0) AddAmount(node, "BuyItNowPrice", item.BuyItNowPrice, item.Currency);
    AddText(node, "ItemID", item.ItemID);
    pugi::xml_node details = node.append_child("ListingDetails");
    AddText(details, "StartTime", SandboxTimeText(item.StartTime));
    AddText(details, "EndTime", SandboxTimeText(item.EndTime));
    AddText(details, "ViewItemURL", item.ViewItemURL);
    AddText(node, "ListingType", item.ListingType);
    AddText(node, "Quantity", std::to_string(item.QuantityAvailable));
    AddText(node.append_child("Seller"), "UserID", item.Seller);
    pugi::xml_node status = node.append_child("SellingStatus");
    AddText(status, "BidCount", std::to_string(item.BidCount));
    AddAmount(status, "CurrentPrice", item.CurrentPrice, item.Currency);
    if (!item.HighBidder.empty()) AddText(status.append_child("HighBidder"), "UserID", item.HighBidder);
    AddText(status, "ListingStatus", item.EndTime > now ? "Active" : "Completed");
    if (!item.Shipping.empty()) {
        pugi::xml_node shipping = node.append_child("ShippingDetails");
        int priority = 1;
        for (const TSandboxShippingOption& option : item.Shipping) {
            pugi::xml_node entry = shipping.append_child("ShippingServiceOptions");
            AddText(entry, "ShippingService", option.Service);
            AddAmount(entry, "ShippingServiceCost", option.Cost, item.Currency);
            AddText(entry, "ShippingServicePriority", std::to_string(priority++));
        }
    }
    AddText(node, "Site", item.Site);
    AddText(node, "TimeLeft", TimeLeftText(item.EndTime, now));
    AddText(node, "Title", item.Title);
    if (!item.GalleryURL.empty()) AddText(node.append_child("PictureDetails"), "GalleryURL", item.GalleryURL);
    AddText(node, "QuantityAvailable", std::to_string(item.QuantityAvailable));
}

} // namespace

namespace SandboxErrors {

TSandboxApiError UnsupportedCall(const std::string& callName) {
    return {2, "Unsupported API call.",
            "The API call \"" + callName + "\" is invalid or not supported in this release."};
}

TSandboxApiError XmlParseError(const std::string& detail) {
    return {5, "XML Parse error.", "XML Error Text: \"" + detail + "\"."};
}

TSandboxApiError InvalidHeader(const std::string& header, const std::string& value) {
    return {10012, "Invalid value for header \"" + header + "\".",
            "Header \"" + header + "\" with value \"" + value + "\" is out of range."};
}

TSandboxApiError InvalidApplication(const std::string& appName) {
    return {127, "Invalid Application.",
            "The application \"" + appName +
                "\" is not registered for the given developer and certificate ids."};
}

TSandboxApiError InvalidInput(const std::string& tag) {
    return {37, "Input data is invalid.",
            "Input data for tag <" + tag + "> is invalid or missing. Please check API documentation."};
}

TSandboxApiError InvalidToken() {
    return {931, "Auth token is invalid.", "Validation of the authentication token in API request failed."};
}

TSandboxApiError ExpiredToken() {
    return {932, "Auth token is hard expired.",
            "Auth token is hard expired, User needs to generate a new token for this application."};
}

TSandboxApiError CallLimit() {
    return {
        518, "Call usage limit has been reached.",
        "Your application has exceeded usage limit on this call, please make call to GetAPIAccessRules to "
        "check your call usage."};
}

TSandboxApiError SignInNotCompleted() {
    return {21916017, "The end user has not completed Auth & Auth sign in flow.",
            "The end user has not completed Auth & Auth sign in flow."};
}

} // namespace SandboxErrors

std::string SandboxTimeText(TDateTime gmt) {
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(gmt, year, month, day, hour, minute, second, msec);
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hour,
                  minute, second, msec);
    return buffer;
}

std::string BuildErrorResponse(const std::string& rootName, const TSandboxApiError& error, TDateTime now) {
    pugi::xml_document doc;
    pugi::xml_node root =
        StartResponse(doc, rootName, error.Severity == "Warning" ? "Warning" : "Failure", now);
    pugi::xml_node errors = root.append_child("Errors");
    AddText(errors, "ShortMessage", error.ShortMessage);
    AddText(errors, "LongMessage", error.LongMessage);
    AddText(errors, "ErrorCode", std::to_string(error.Code));
    AddText(errors, "SeverityCode", error.Severity);
    AddText(errors, "ErrorClassification", error.Classification);
    AddVersion(root);
    return Save(doc);
}

std::string BuildWatchListResponse(const TSandboxAccount& account, int entriesPerPage, int pageNumber,
                                   TDateTime now, std::optional<int> announcedPages) {
    pugi::xml_document doc;
    pugi::xml_node root = StartResponse(doc, "GetMyeBayBuyingResponse", "Success", now);
    AddVersion(root);
    pugi::xml_node watchList = root.append_child("WatchList");
    const size_t total = account.WatchList.size();
    const size_t perPage = static_cast<size_t>(entriesPerPage);
    const size_t first = std::min(total, static_cast<size_t>(pageNumber - 1) * perPage);
    const size_t last = std::min(total, first + perPage);
    pugi::xml_node array = watchList.append_child("ItemArray");
    for (size_t i = first; i < last; ++i)
        AddItem(array, account.WatchList[i], now);
    const uint64_t realPages = (total + perPage - 1) / perPage;
    uint64_t pages = realPages, entries = total;
    if (announcedPages) {
        // More pages than there are claim full pages; fewer claim what those pages hold.
        pages = static_cast<uint64_t>(*announcedPages);
        entries = pages > realPages ? pages * perPage : std::min<uint64_t>(total, pages * perPage);
    }
    pugi::xml_node pagination = watchList.append_child("PaginationResult");
    AddText(pagination, "TotalNumberOfPages", std::to_string(pages));
    AddText(pagination, "TotalNumberOfEntries", std::to_string(entries));
    return Save(doc);
}

std::string BuildFetchTokenResponse(const std::string& token, TDateTime hardExpiration, TDateTime now) {
    pugi::xml_document doc;
    pugi::xml_node root = StartResponse(doc, "FetchTokenResponse", "Success", now);
    AddVersion(root);
    AddText(root, "eBayAuthToken", token);
    AddText(root, "HardExpirationTime", SandboxTimeText(hardExpiration));
    return Save(doc);
}

std::string BuildGetUserResponse(const TSandboxAccount& account, TDateTime now) {
    pugi::xml_document doc;
    pugi::xml_node root = StartResponse(doc, "GetUserResponse", "Success", now);
    AddVersion(root);
    pugi::xml_node user = root.append_child("User");
    AddText(user, "EIASToken", account.UserID);
    AddText(user, "Status", "Confirmed");
    AddText(user, "UserID", account.UserName);
    AddText(user, "Site", "Germany");
    return Save(doc);
}

std::string BuildGetSessionIDResponse(const std::string& sessionID, TDateTime now) {
    pugi::xml_document doc;
    pugi::xml_node root = StartResponse(doc, "GetSessionIDResponse", "Success", now);
    AddVersion(root);
    AddText(root, "SessionID", sessionID);
    return Save(doc);
}
