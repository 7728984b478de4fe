#include "platform/UnitPlatformRegistry.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformEnvironment.h"

#include <atomic>
#include <cstring>

TRegistryValue TRegistryValue::Integer(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return {rdInteger, bytes};
}

namespace {

bool IsDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

std::string ProxyHostPortFromUrl(const std::string& url) {
    const std::string trimmed = Trim(url);
    std::string_view rest = trimmed;
    std::string defaultPort = "80";
    if (const size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
        const std::string name = LowerCase(rest.substr(0, scheme));
        if (name == "https")
            defaultPort = "443";
        else if (name != "http")
            return ""; // a SOCKS or other proxy is nothing the HTTP client can use
        rest.remove_prefix(scheme + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);

    std::string_view host, port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) return "";
        host = rest.substr(0, close + 1);
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return "";
            port = after.substr(1);
        }
    } else {
        const size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
        if (port.find(':') != std::string_view::npos) return "";
    }
    if (host.empty() || host == "[]") return "";
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ' || c == ';' || c == '=') return "";
    if (port.empty()) port = defaultPort;
    if (!IsDigits(port) || port.size() > 5) return "";
    const int portNumber = std::stoi(std::string(port));
    if (portNumber < 1 || portNumber > 65535) return "";
    return std::string(host) + ":" + std::string(port);
}

namespace {

// Presents the internet settings key from https_proxy or http_proxy (lower case before upper case); the
// first variable that is set and not empty decides.
class TEnvironmentRegistrySource : public TRegistrySource {
public:
    bool ReadKey(TRegistryRoot root, const std::string& path, TRegistryValues& values) override {
        if (root != TRegistryRoot::CurrentUser || !SameText(path, InternetSettingsKey)) return false;
        values.clear();
        std::string server;
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY"}) {
            const auto value = GetEnvironmentVariable(name);
            if (!value || Trim(*value).empty()) continue;
            server = ProxyHostPortFromUrl(*value);
            break;
        }
        values.emplace_back("ProxyEnable", TRegistryValue::Integer(server.empty() ? 0 : 1));
        if (!server.empty()) values.emplace_back("ProxyServer", TRegistryValue::String(server));
        return true;
    }
};

TEnvironmentRegistrySource GEnvironmentSource;
std::atomic<TRegistrySource*> GSource{nullptr};

} // namespace

TRegistrySource& RegistrySource() {
    TRegistrySource* source = GSource;
    return source ? *source : GEnvironmentSource;
}

TRegistrySource* SetRegistrySource(TRegistrySource* source) {
    return GSource.exchange(source);
}

bool TRegistry::OpenKeyReadOnly(const std::string& path) {
    CloseKey();
    FOpen = RegistrySource().ReadKey(FRoot, path, FValues);
    if (!FOpen) FValues.clear();
    return FOpen;
}

void TRegistry::CloseKey() {
    FOpen = false;
    FValues.clear();
}

const TRegistryValue* TRegistry::Find(const std::string& name) const {
    for (const auto& [valueName, value] : FValues)
        if (SameText(valueName, name)) return &value;
    return nullptr;
}

const TRegistryValue& TRegistry::Get(const std::string& name) const {
    const TRegistryValue* value = Find(name);
    if (!value) throw ERegistryException(Format("Failed to get data for '%s'", {name}));
    return *value;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    const TRegistryValue* value = Find(name);
    return value ? value->DataType : rdUnknown;
}

int TRegistry::GetDataSize(const std::string& name) const {
    const TRegistryValue* value = Find(name);
    return value ? static_cast<int>(value->Data.size()) : -1;
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    const TRegistryValue& value = Get(name);
    if (value.DataType != rdInteger || value.Data.size() != 4)
        throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    uint32_t result = 0;
    for (int i = 3; i >= 0; --i)
        result = (result << 8) | static_cast<unsigned char>(value.Data[i]);
    return static_cast<int32_t>(result);
}

std::string TRegistry::ReadString(const std::string& name) const {
    const TRegistryValue* value = Find(name);
    if (!value) return "";
    if (value->DataType != rdString && value->DataType != rdExpandString)
        throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    // Stored strings may carry their terminating zero.
    return value->Data.substr(0, value->Data.find('\0'));
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufferSize) const {
    const TRegistryValue& value = Get(name);
    if (value.DataType != rdBinary || static_cast<int>(value.Data.size()) > bufferSize)
        throw ERegistryException(Format("Invalid data type for '%s'", {name}));
    std::memcpy(buffer, value.Data.data(), value.Data.size());
    return static_cast<int>(value.Data.size());
}
