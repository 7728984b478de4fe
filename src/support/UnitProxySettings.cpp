#include "support/UnitProxySettings.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformRegistry.h"

#include <cstdint>

void TProxySettings::Clear() {
    UsesProxy = false;
    Port = 80;
    Server.clear();
    NeedsAuthentication = false;
    UserName.clear();
    Password.clear();
}

void TProxySettings::Assign(const TProxySettings* source) {
    if (!source) return;
    NeedsAuthentication = source->NeedsAuthentication;
    UsesProxy = source->UsesProxy;
    Port = source->Port;
    Server = source->Server;
    UserName = source->UserName;
    Password = source->Password;
}

TProxySettingsRegistry::TProxySettingsRegistry() {
    ReadFromRegistry();
}

bool TProxySettingsRegistry::ReadFromRegistry() {
    Clear();
    TRegistry registry(TRegistryRoot::CurrentUser);
    if (!registry.OpenKeyReadOnly(InternetSettingsKey)) return false;
    try {
        uint32_t enable = 0;
        if (registry.GetDataType("ProxyEnable") == rdBinary) {
            unsigned char bytes[4] = {0, 0, 0, 0};
            registry.ReadBinaryData("ProxyEnable", bytes, sizeof bytes);
            enable = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        } else {
            enable = static_cast<uint32_t>(registry.ReadInteger("ProxyEnable"));
        }
        UsesProxy = enable != 0;
        if (!UsesProxy) return true;

        const std::string server = registry.ReadString("ProxyServer");
        if (server.empty()) return true;
        // A bracketed IPv6 address holds colons of its own; its port follows the closing bracket.
        size_t colon = server.find(':');
        if (server.front() == '[') {
            const size_t close = server.find("]:");
            if (close != std::string::npos) colon = close + 1;
        }
        // Without a colon the whole value is taken as the port and the server stays empty.
        Server = colon == std::string::npos ? std::string() : server.substr(0, colon);
        Port = StrToIntDef(colon == std::string::npos ? server : server.substr(colon + 1), 0);
        return true;
    } catch (const Exception&) {
        return false;
    }
}
