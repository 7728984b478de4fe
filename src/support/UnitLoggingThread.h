#pragma once
// The logging thread: takes one queued message every 10 ms and hands it to the process-wide TLogging.

#include "platform/UnitPlatformThread.h"

#include <deque>
#include <string>

class TThreadLogging : public TThread {
public:
    // Each entry is one kind digit followed by the message text. The caller holds LoggingQueueLock().
    std::deque<std::string> FQueue;

protected:
    void Execute() override;
};
