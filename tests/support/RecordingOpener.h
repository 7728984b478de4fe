#pragma once
// An opener program that notes every address the system asks the browser to open, installed while it lives.

#include "KovaTestSupport.h"

#include <string>
#include <vector>

class TRecordingOpener {
public:
    TRecordingOpener();
    ~TRecordingOpener();
    TRecordingOpener(const TRecordingOpener&) = delete;
    TRecordingOpener& operator=(const TRecordingOpener&) = delete;
    // The addresses opened so far, oldest first.
    std::vector<std::string> Opened() const;

private:
    TTempDir FDir;
};
