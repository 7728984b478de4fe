#include "SandboxOptions.h"

#include "base/UnitUtils.h"

#include <charconv>
#include <stdexcept>

namespace {

template <typename T> T ParseNumber(const std::string& text, const std::string& option, T low, T high) {
    T value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high)
        throw std::invalid_argument(option + " expects a number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

TSandboxAccountOption ParseAccount(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw std::invalid_argument("--account expects NAME:COUNT, not \"" + text + "\"");
    return {text.substr(0, colon),
            ParseNumber<int>(text.substr(colon + 1), "--account", 0, SandboxMaxWatchListItems)};
}

TSandboxAppKeys ParseKeys(const std::string& text) {
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos)
        throw std::invalid_argument("--app-keys expects DEV:APP:CERT");
    TSandboxAppKeys keys{text.substr(0, first), text.substr(first + 1, second - first - 1),
                         text.substr(second + 1)};
    if (keys.DevID.empty() || keys.AppID.empty() || keys.CertID.empty())
        throw std::invalid_argument("--app-keys expects three non-empty keys");
    return keys;
}

TSandboxItemChange ParseItemEnds(const std::string& text) {
    const size_t last = text.rfind(':');
    const size_t middle =
        last == std::string::npos || last == 0 ? std::string::npos : text.rfind(':', last - 1);
    if (middle == std::string::npos || middle == 0)
        throw std::invalid_argument("--item-ends expects NAME:INDEX:SECONDS, not \"" + text + "\"");
    TSandboxItemChange change;
    change.UserName = text.substr(0, middle);
    change.Index = ParseNumber<int>(text.substr(middle + 1, last - middle - 1), "--item-ends", 0,
                                    SandboxMaxWatchListItems - 1);
    // Seconds from the start until the end; the service turns them into a time when it starts.
    change.EndTime = ParseNumber<int>(text.substr(last + 1), "--item-ends", -31536000, 31536000);
    return change;
}

} // namespace

TSandboxOptions ParseSandboxOptions(const std::vector<std::string>& args) {
    TSandboxOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            options.Help = true;
            return options;
        }
        if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
        const std::string& value = args[++i];
        if (option == "--state-dir")
            options.StateDir = value;
        else if (option == "--port")
            options.Port = ParseNumber<int>(value, option, 0, 65535);
        else if (option == "--seed")
            options.Seed = ParseNumber<uint64_t>(value, option, 0, UINT64_MAX);
        else if (option == "--latency-ms")
            options.LatencyMs = ParseNumber<int>(value, option, 0, 600000);
        else if (option == "--access-token-seconds")
            options.AccessTokenSeconds = ParseNumber<int>(value, option, 1, 86400);
        else if (option == "--app-keys")
            options.Keys = ParseKeys(value);
        else if (option == "--runame") {
            if (Trim(value).empty()) throw std::invalid_argument("--runame expects a non-empty name");
            options.RuName = Trim(value);
        } else if (option == "--high-bidder-ids") {
            if (value != "on" && value != "off")
                throw std::invalid_argument("--high-bidder-ids expects on or off");
            options.HighBidderIds = value == "on";
        } else if (option == "--item-ends") {
            options.ItemEnds.push_back(ParseItemEnds(value));
        } else if (option == "--item-outbid") {
            options.Outbids.push_back(ParseSandboxOutbidOption(value));
        } else if (option == "--account") {
            TSandboxAccountOption account = ParseAccount(value);
            for (const TSandboxAccountOption& other : options.Accounts)
                if (SameText(other.UserName, account.UserName))
                    throw std::invalid_argument("account \"" + account.UserName + "\" is given twice");
            options.Accounts.push_back(std::move(account));
        } else
            throw std::invalid_argument("unknown option " + option);
    }
    if (options.StateDir.empty()) throw std::invalid_argument("--state-dir is required");
    return options;
}
