#include "platform/UnitPlatformProcess.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// What a load does on its worker: one large answer, many small pieces, the list that outlives it, and more
// small pieces after that; all but the list are freed when it ends.
std::unique_ptr<char[]> LoadLikeWork() {
    {
        std::string answer(1024 * 1024, 'x');
        volatile char touched = answer[answer.size() / 2];
        (void)touched;
    }
    std::vector<std::unique_ptr<char[]>> pieces;
    const auto makePieces = [&pieces] {
        for (int i = 0; i < 6000; ++i) {
            pieces.emplace_back(new char[256]);
            pieces.back()[0] = static_cast<char>(i);
        }
    };
    makePieces();
    std::unique_ptr<char[]> list(new char[4096]);
    list[0] = 1;
    makePieces();
    return list;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SanitizerAllocator = true;
#else
constexpr bool SanitizerAllocator = false;
#endif

TEST(UnitPlatformProcess, WhatAThreadFreedDoesNotStayResidentAfterItsWork) {
    if (SanitizerAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps memory by its own rules";
    KeepAllocatorThresholdsFixed();
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<char[]>> lists;
    for (int round = 0; round < 3; ++round) {
        std::thread worker([&lists] { lists.push_back(LoadLikeWork()); });
        worker.join();
        ReturnFreedMemoryToSystem();
    }
    const long grown = ResidentKiB() - before;
    // Twice 1.5 MB of small pieces: those below the list that outlives them are free chunks inside the
    // worker's arena, those above it its free top, which glibc's own raised thresholds would let it keep.
    EXPECT_LT(grown, 512) << "kB still resident after the work";
}

} // namespace
