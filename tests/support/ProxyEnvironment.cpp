#include "support/ProxyEnvironment.h"

#include "platform/UnitPlatformEnvironment.h"

#include <cstdlib>

TProxyEnvironment::TProxyEnvironment(const TProxyVariables& values) {
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY"}) {
        FSaved[name] = GetEnvironmentVariable(name);
        unsetenv(name);
    }
    for (const auto& [name, value] : values)
        setenv(name.c_str(), value.c_str(), 1);
}

TProxyEnvironment::~TProxyEnvironment() {
    for (const auto& [name, value] : FSaved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}
