#include "storage/UnitProxySettings.h"

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
