#include "base/UnitUtils.h"
#include "ebayapi/UnitWatchListPageScan.h"
#include "support/KovaTestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Room for bytes that end at the last readable byte before a page of memory that cannot be read, so that a
// look past their end faults at once.
class TGuardedBytes {
public:
    explicit TGuardedBytes(size_t most)
        : FPage(static_cast<size_t>(::sysconf(_SC_PAGESIZE))), FRoom((most / FPage + 1) * FPage) {
        FMap = static_cast<char*>(
            ::mmap(nullptr, FRoom + FPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (FMap == MAP_FAILED || ::mprotect(FMap + FRoom, FPage, PROT_NONE) != 0)
            throw std::runtime_error("mmap");
    }
    ~TGuardedBytes() { ::munmap(FMap, FRoom + FPage); }
    TGuardedBytes(const TGuardedBytes&) = delete;
    TGuardedBytes& operator=(const TGuardedBytes&) = delete;

    std::string_view Place(std::string_view bytes) {
        char* const start = FMap + FRoom - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        return {start, bytes.size()};
    }

private:
    size_t FPage, FRoom;
    char* FMap = nullptr;
};

} // namespace

// The scan reads the caller's bytes where they lie: a page that ends right before unreadable memory is read
// to its end and not a byte further, whole or cut short anywhere, in a name, a text with references, blanks
// or an attribute.
TEST(WatchListPageScan, ReadsThePageWhereItLiesAndNeverPastItsEnd) {
    const std::string file =
        ReadTextFile(std::string(KOVA_TEST_DATA_DIR) + "/ebayapi/watchlist_page1_of3.xml");
    const std::string page = file.substr(0, file.find_last_not_of(" \r\n\t") + 1);
    const struct {
        std::string Bytes;
        int Items;
    } wholePages[] = {
        {page, 4},
        // Runs longer than sixteen bytes end right at the page's end.
        {page + std::string(40, ' '), 4},
        {StringReplaceAll(page, "</Title>", "  &amp; twenty-four more bytes of title</Title>"), 4},
    };
    TGuardedBytes memory(page.size() + 200);
    TWatchListPageScan scan;
    for (const auto& whole : wholePages) {
        ASSERT_TRUE(scan.Scan(memory.Place(whole.Bytes))) << whole.Bytes;
        EXPECT_EQ(scan.ItemCount(), whole.Items);
        EXPECT_EQ(scan.Root(rfTotalNumberOfPages).Text, "3");
    }
    for (size_t cut = 0; cut < page.size(); ++cut)
        EXPECT_FALSE(scan.Scan(memory.Place(std::string_view(page).substr(0, cut)))) << "cut after " << cut;
}

// Texts with references are decoded into the scan's own room; the others stay views of the page, and every
// text of a scan stays as it was until the next one.
TEST(WatchListPageScan, DecodedAndPlainTextsKeepTheirValuesUntilTheNextScan) {
    const std::string page = "<GetMyeBayBuyingResponse><Ack>Success</Ack><WatchList><ItemArray>"
                             "<Item><ItemID>1</ItemID><Title>A &amp; B &lt;C&gt; &#x20AC;</Title></Item>"
                             "<Item><ItemID>2</ItemID><Title>plain</Title></Item>"
                             "<Item><ItemID>3</ItemID><Title> &quot;x&apos; </Title></Item>"
                             "</ItemArray></WatchList></GetMyeBayBuyingResponse>";
    TWatchListPageScan scan;
    ASSERT_TRUE(scan.Scan(page));
    const std::pair<const char*, const char*> expected[] = {
        {"1", "A & B <C> \xE2\x82\xAC"}, {"2", "plain"}, {"3", " \"x' "}};
    ASSERT_EQ(scan.ItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(scan.Item(i).Fields[pfItemID].Text, expected[i].first);
        EXPECT_EQ(scan.Item(i).Fields[pfTitle].Text, expected[i].second);
    }
}
