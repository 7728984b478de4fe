#pragma once
// Sets the proxy variables of the environment for one test.

#include <map>
#include <optional>
#include <string>

using TProxyVariables = std::map<std::string, std::string>;

// Clears https_proxy, HTTPS_PROXY, http_proxy and HTTP_PROXY, then sets the given ones; restores the old
// values at scope end.
class TProxyEnvironment {
public:
    explicit TProxyEnvironment(const TProxyVariables& values);
    ~TProxyEnvironment();
    TProxyEnvironment(const TProxyEnvironment&) = delete;
    TProxyEnvironment& operator=(const TProxyEnvironment&) = delete;

private:
    std::map<std::string, std::optional<std::string>> FSaved;
};
