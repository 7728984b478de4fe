#pragma once
// The six proxy values handed from the settings to every HTTP client.

#include <string>

class TProxySettings {
public:
    TProxySettings() = default;
    virtual ~TProxySettings() = default;

    // UsesProxy false, Port 80, Server empty, NeedsAuthentication false, no credentials.
    void Clear();
    // Copies all six fields; nullptr changes nothing.
    void Assign(const TProxySettings* source);

    bool NeedsAuthentication = false;
    bool UsesProxy = false;
    int Port = 0;
    std::string Server;
    std::string UserName;
    std::string Password;
};

// The system's own proxy settings, read once on construction.
class TProxySettingsRegistry : public TProxySettings {
public:
    TProxySettingsRegistry();
    // Clears the record and fills UsesProxy, Port and Server from the current user's internet settings;
    // false when they cannot be read, with the fields as far as they were set.
    bool ReadFromRegistry();
};
