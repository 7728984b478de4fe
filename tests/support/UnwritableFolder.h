#pragma once
// Makes writes into a folder fail for its lifetime.

#include <string>

// Takes write permission from the folder; where that does not stop the process (running as root) it
// simulates a full disk for every write instead. Gives the permission back at scope end.
class TUnwritableFolder {
public:
    explicit TUnwritableFolder(const std::string& folder);
    ~TUnwritableFolder();
    TUnwritableFolder(const TUnwritableFolder&) = delete;
    TUnwritableFolder& operator=(const TUnwritableFolder&) = delete;
    bool Simulated() const { return FSimulated; }

private:
    std::string FFolder;
    bool FSimulated = false;
};
