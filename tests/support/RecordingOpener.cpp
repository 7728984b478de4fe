#include "RecordingOpener.h"

#include "platform/UnitPlatformShell.h"

#include <filesystem>
#include <sstream>

TRecordingOpener::TRecordingOpener() {
    const std::string opener =
        FDir.Write("opener", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened\"\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    SetShellOpenProgramForTesting(opener);
}

TRecordingOpener::~TRecordingOpener() {
    SetShellOpenProgramForTesting("");
}

std::vector<std::string> TRecordingOpener::Opened() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadTextFile(FDir.File("opened")));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}
