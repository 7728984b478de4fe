#include "platform/UnitPlatformProcess.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// A load on its worker: a large answer, small pieces (1.5 MB), the list that outlives the load, and as many
// pieces again; all but the list are freed when it ends.
std::unique_ptr<char[]> LoadLikeWork() {
    {
        const std::string answer(1024 * 1024, 'x');
        volatile char seen = answer.back();
        (void)seen;
    }
    std::vector<std::unique_ptr<char[]>> pieces;
    std::unique_ptr<char[]> list;
    for (int i = 0; i < 12000; ++i) {
        if (i == 6000) list.reset(new char[4096]());
        pieces.emplace_back(new char[256]());
    }
    return list;
}

TEST(UnitPlatformProcess, WhatAThreadFreedDoesNotStayResidentAfterItsWork) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator keeps memory by its own rules";
#endif
    KeepAllocatorThresholdsFixed();
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<char[]>> lists;
    for (int round = 0; round < 3; ++round) {
        std::thread([&lists] { lists.push_back(LoadLikeWork()); }).join();
        ReturnFreedMemoryToSystem();
    }
    // The pieces below the list are free chunks inside the worker's arena, those above it its free top, which
    // glibc's own raised thresholds would let it keep.
    EXPECT_LT(ResidentKiB() - before, 512) << "kB still resident after the work";
}

} // namespace
