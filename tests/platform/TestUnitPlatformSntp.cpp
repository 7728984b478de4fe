// ctest-labels: threaded
#include "platform/UnitPlatformSntp.h"
#include "support/KovaTestSupport.h"
#include "support/SntpResponder.h"
#include "support/TimeTestSupport.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const TDateTime ClientUtc = EncodeDateTime(2026, 12, 7, 8, 0, 0, 0);
const TDateTime ServerUtc = EncodeDateTime(2026, 12, 7, 8, 1, 30, 250);

void ExpectSameMs(TDateTime expected, TDateTime actual) {
    EXPECT_EQ(DateTimeToMSecs(expected), DateTimeToMSecs(actual));
}

} // namespace

TEST(PlatformSntp, TimestampsKeepTheirEraAndFraction) {
    ExpectSameMs(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0),
                 NtpTimestampToDateTime(uint64_t{0x80000000} << 32) - 2147483648.0 / SecsPerDay);
    for (TDateTime t : {ServerUtc, EncodeDateTime(2036, 2, 7, 6, 28, 15, 500),
                        EncodeDateTime(2036, 2, 7, 6, 28, 17, 0), EncodeDateTime(2090, 6, 1, 12, 0, 0, 1)}) {
        ExpectSameMs(t, NtpTimestampToDateTime(DateTimeToNtpTimestamp(t)));
    }
    // Seconds with the high bit clear belong to the era that starts in 2036.
    ExpectSameMs(EncodeDateTime(2036, 2, 7, 6, 28, 16, 0), NtpTimestampToDateTime(0));
    ExpectSameMs(EncodeDateTime(1968, 1, 20, 3, 14, 8, 0),
                 NtpTimestampToDateTime(uint64_t{0x80000000} << 32));
}

TEST(PlatformSntp, UnusableAnswersAreIgnoredUntilAGoodOneOrTheTimeOut) {
    TManualClock clock(ClientUtc, ClientUtc);
    // Noise before the real answer: a short packet, an answer to another request, a client-mode packet.
    TSntpResponder noisy([](const TSntpResponder::TPacket& request) {
        auto stale = TSntpResponder::Reply(request, ServerUtc - 1);
        stale[31] ^= 1;
        auto clientMode = TSntpResponder::Reply(request, ServerUtc - 1);
        clientMode[0] = (clientMode[0] & ~7) | 3;
        auto shortPacket = TSntpResponder::Reply(request, ServerUtc - 1);
        shortPacket.resize(40);
        return std::vector<std::vector<uint8_t>>{shortPacket, stale, clientMode,
                                                 TSntpResponder::Reply(request, ServerUtc)};
    });
    ExpectSameMs(ServerUtc, SntpQueryUTC(noisy.Address(), 2000));

    struct TCase {
        const char* What;
        int Stratum, Leap;
    };
    for (const TCase& c : {TCase{"kiss-of-death", 0, 0}, TCase{"unsynchronised server", 2, 3}}) {
        TSntpResponder refusing([c](const TSntpResponder::TPacket& request) {
            return std::vector<std::vector<uint8_t>>{
                TSntpResponder::Reply(request, ServerUtc, c.Stratum, c.Leap)};
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, SntpQueryUTC(refusing.Address(), 300)) << c.What;
        EXPECT_GE(ElapsedMs(start), 290) << c.What;
    }
}

TEST(PlatformSntp, SilenceEndsAtTheTimeOutAndARefusedPortAtOnce) {
    TSntpResponder silent(TSntpResponder::Silent());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, SntpQueryUTC(silent.Address(), 400));
    const int64_t waited = ElapsedMs(start);
    EXPECT_GE(waited, 390);
    EXPECT_LT(waited, 2000);
    EXPECT_EQ(1, silent.Requests());

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, SntpQueryUTC(RefusedSntpAddress(), 4000));
    EXPECT_LT(ElapsedMs(start), 1000);

    EXPECT_EQ(0, SntpQueryUTC("", 100));
    EXPECT_EQ(0, SntpQueryUTC("127.0.0.1:notaport", 100));
}
