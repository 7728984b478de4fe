#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Sets the process's umask while it lives; the tests of this file run on one thread.
struct TScopedUmask {
    explicit TScopedUmask(mode_t mask) : Old(::umask(mask)) {}
    ~TScopedUmask() { ::umask(Old); }
    mode_t Old;
};

} // namespace

TEST(PlatformFiles, SharedFilesFollowTheUmaskAndCredentialFilesStayOwnerOnly) {
    struct TCase {
        mode_t Umask;
        int Shared;
    };
    const TCase cases[] = {{022, 0644}, {002, 0664}, {077, 0600}, {027, 0640}, {0, 0666}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Umask);
        TScopedUmask mask(c.Umask);
        TTempDir dir;
        for (const char* name : {"watchlist.dat", "result.txt", "details.html", "KovaGadget.ini"}) {
            WriteFileAtomic(dir.File(name), "first");
            EXPECT_EQ(FilePermissions(dir.File(name)), c.Shared) << name;
        }
        WriteFileAtomic(dir.File("proxy.dat"), "secret", TFileAccess::OwnerOnly);
        EXPECT_EQ(FilePermissions(dir.File("proxy.dat")), 0600);

        // A replaced shared file keeps what its owner gave it; a credential file is always put back to 0600.
        ::chmod(dir.File("result.txt").c_str(), 0604);
        ::chmod(dir.File("proxy.dat").c_str(), 0644);
        WriteFileAtomic(dir.File("result.txt"), "second");
        WriteFileAtomic(dir.File("proxy.dat"), "again", TFileAccess::OwnerOnly);
        EXPECT_EQ(FilePermissions(dir.File("result.txt")), 0604);
        EXPECT_EQ(FilePermissions(dir.File("proxy.dat")), 0600);
        EXPECT_EQ(ReadFileBytes(dir.File("result.txt")), "second");
    }
}
