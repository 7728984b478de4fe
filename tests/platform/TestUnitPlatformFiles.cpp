#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const TCase cases[] = {{022, 0644}, {002, 0644}, {077, 0600}, {027, 0640}, {0, 0644}};
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

namespace {

// What stands at a file's name before it is written: nothing, a regular file, a symbolic or a hard link to a
// file elsewhere or a FIFO; the file (or the link's target) has the mode and may belong to another user.
struct TStanding {
    enum { Nothing, File, Link, Fifo, HardLink } Kind;
    int Mode = 0;
    bool Stranger = false; // only root may give a file away
};

void Lay(const std::string& path, const std::string& elsewhere, const TStanding& s) {
    if (s.Kind == TStanding::Fifo) ::mkfifo(path.c_str(), 0600);
    if (s.Kind == TStanding::Nothing || s.Kind == TStanding::Fifo) return;
    const std::string file = s.Kind == TStanding::File ? path : elsewhere;
    WriteFileAtomic(file, "before");
    ::chmod(file.c_str(), static_cast<mode_t>(s.Mode));
    if (s.Stranger) ::chown(file.c_str(), 65534, 65534);
    if (s.Kind == TStanding::Link) std::filesystem::create_symlink(file, path);
    if (s.Kind == TStanding::HardLink) std::filesystem::create_hard_link(file, path);
}

} // namespace

TEST(PlatformFiles, WrittenFilesNeverTakeTheModeOfWhatStoodAtTheirNameNorWriteThroughALink) {
    struct TCase {
        TStanding Before;
        TFileAccess Access;
        bool Append;         // as the log is written, else replaced whole
        int After;           // the mode afterwards
        const char* Refusal; // part of the error when the write is refused
    };
    const TCase cases[] = {
        {{TStanding::Link, 04755}, TFileAccess::Shared, false, 0644, nullptr},
        {{TStanding::File, 0666}, TFileAccess::Shared, false, 0644, nullptr},
        {{TStanding::File, 06777}, TFileAccess::Shared, false, 0644, nullptr},
        {{TStanding::File, 0640}, TFileAccess::Shared, false, 0640, nullptr}, // the owner's narrower choice
        {{TStanding::File, 0600, true}, TFileAccess::Shared, false, 0644, nullptr},
        {{TStanding::File, 0666}, TFileAccess::OwnerOnly, false, 0600, nullptr},
        {{TStanding::Link, 0644}, TFileAccess::OwnerOnly, false, 0600, nullptr},
        {{TStanding::Nothing}, TFileAccess::OwnerOnly, true, 0600, nullptr},
        {{TStanding::File, 0644}, TFileAccess::OwnerOnly, true, 0600, nullptr},
        {{TStanding::Link, 0644},
         TFileAccess::OwnerOnly,
         true,
         0644,
         "It is a symbolic link, and it is not written through."},
        {{TStanding::Fifo}, TFileAccess::OwnerOnly, true, 0600, "It is not a regular file."},
        {{TStanding::File, 0600, true}, TFileAccess::OwnerOnly, true, 0600, "It belongs to another user."},
        // A set-user-id program planted at the log's name, as root's log would append to it.
        {{TStanding::HardLink, 04755},
         TFileAccess::OwnerOnly,
         true,
         04755,
         "It has other names (hard links), and it is not written through."},
        {{TStanding::HardLink, 0644, true}, TFileAccess::OwnerOnly, true, 0644, "It has other names"},
        {{TStanding::HardLink, 04755}, TFileAccess::OwnerOnly, false, 0600, nullptr}, // replaced, not written
    };
    TScopedUmask mask(022);
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.Before.Kind << " mode " << std::oct << c.Before.Mode
                                        << (c.Append ? " appended" : " replaced"));
        if (c.Before.Stranger && ::geteuid() != 0) continue;
        TTempDir dir, elsewhere;
        const std::string path = dir.File("file"), target = elsewhere.File("target");
        Lay(path, target, c.Before);
        const bool wasFile = c.Before.Kind == TStanding::File;
        const std::string before = wasFile ? ReadFileBytes(path) : "";
        const std::string error = ErrorOf([&] {
            c.Append ? AppendToFile(path, "after", c.Access) : WriteFileAtomic(path, "after", c.Access);
        });
        if (c.Before.Kind == TStanding::Link || c.Before.Kind == TStanding::HardLink) {
            EXPECT_EQ(ReadFileBytes(target), "before") << "the link's target is untouched";
            EXPECT_EQ(FilePermissions(target), c.Before.Mode);
        }
        if (c.Refusal) {
            EXPECT_NE(error.find("\"" + path + "\". " + c.Refusal), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(error, "no error");
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "a regular file in place of a link";
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.After));
        EXPECT_EQ(ReadFileBytes(path), (c.Append ? before : "") + "after");
    }
}

// Whether the disk is waited for or not, a reader sees the old file or the new one, whole, and a failed
// write leaves the old one and no temporary beside it.
TEST(PlatformFiles, ReplacementIsWholeWhetherFlushedOrRebuilt) {
    for (const TFileKeep keep : {TFileKeep::Rebuilt, TFileKeep::Durable}) {
        SCOPED_TRACE(keep == TFileKeep::Durable ? "durable" : "rebuilt");
        TTempDir dir;
        const std::string path = dir.File("result.txt");
        const std::string big(1 << 20, 'x');
        WriteFileAtomic(path, "old", TFileAccess::Shared, keep);
        WriteFileAtomic(path, big, TFileAccess::Shared, keep);
        EXPECT_EQ(ReadFileBytes(path), big);
        SetWriteFaultForTesting([](const std::string&) { return true; });
        EXPECT_NE(ErrorOf([&] { WriteFileAtomic(path, "new", TFileAccess::Shared, keep); }), "no error");
        SetWriteFaultForTesting({});
        EXPECT_EQ(ReadFileBytes(path), big);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
            << "a temporary was left";
    }
}

// A file is read to its end whatever size it claims: a regular file read in one step, and a kernel file
// that says it holds nothing.
TEST(PlatformFiles, ReadsWholeFilesOfAnySizeAndThoseThatClaimNone) {
    TTempDir dir;
    for (const size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{(1 << 20) + 3}}) {
        const std::string path = dir.File("f" + std::to_string(size));
        std::string text(size, 'y');
        if (size > 0) text.back() = 'z';
        WriteFileAtomic(path, text, TFileAccess::Shared, TFileKeep::Rebuilt);
        EXPECT_EQ(ReadFileBytes(path), text) << size;
    }
    std::string status;
    ASSERT_TRUE(TryReadFileBytes("/proc/self/status", status));
    EXPECT_NE(status.find("\nVmRSS:"), std::string::npos);
    EXPECT_EQ(status.back(), '\n');
}
