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
