#pragma once
// A gadget directory for control tests: application data that point at a sandbox, the details template of
// the page, and login data saved through the login data store.

#include "KovaTestSupport.h"

#include <string>

struct TGadgetDirectoryOptions {
    std::string ApiUrl;  // "APIServerProduction"
    std::string Tracker; // "TRACKER"
    std::string LinkDownloadPage = "https://download.example/kova";
    // "LINKFETCHTOKENSIGNIN"; SandboxGadget points it at the sandbox's sign-in page.
    std::string LinkFetchTokenSignIn;
    int RetryCount = 1; // "APICountRetryPostOnFail"
    // False leaves DevID, AppID and CertID out, as the file the build ships does.
    bool ApplicationKeys = true;
    // The element "SIGNIN" as it stands in the file; empty leaves it out, as files before OAuth do.
    std::string SignInXml;
};

class TSandboxProcess;
// Options for a gadget that talks to the sandbox.
TGadgetDirectoryOptions SandboxGadget(const TSandboxProcess& sandbox);
// The same for a gadget that signs in to the sandbox with OAuth under the sandbox's RuName.
TGadgetDirectoryOptions SandboxOAuthGadget(const TSandboxProcess& sandbox);

class TGadgetTestDirectory {
public:
    explicit TGadgetTestDirectory(const TGadgetDirectoryOptions& options);
    // The folder with its trailing delimiter, as the control keeps it.
    std::string Home() const { return FDir.Path() + "/"; }
    const TTempDir& Dir() const { return FDir; }
    std::string File(const std::string& name) const { return FDir.File(name); }
    // Saves user name, password and token as a user who keeps login data would have them.
    void SaveLogInData(const std::string& userName, const std::string& password,
                       const std::string& token) const;

private:
    TTempDir FDir;
};
