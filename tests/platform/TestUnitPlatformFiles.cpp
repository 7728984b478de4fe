#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
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

namespace fs = std::filesystem;

// What stands at a file's name before it is written: a regular file with a mode and owner, or a symbolic
// link to a file elsewhere.
struct TStanding {
    enum { Nothing, File, Link } Kind;
    int Mode = 0;          // of the file, or of the link's target
    bool Stranger = false; // the file belongs to another user (only where the test may give it away)
};

constexpr uid_t Nobody = 65534;

// Lays out what stands at dir/name; a link's target lies in a folder of its own.
void Lay(const TTempDir& dir, const TTempDir& elsewhere, const std::string& name, const TStanding& s) {
    if (s.Kind == TStanding::Nothing) return;
    const std::string file = s.Kind == TStanding::Link ? elsewhere.File("target") : dir.File(name);
    WriteFileAtomic(file, "before");
    ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(s.Mode)), 0);
    if (s.Stranger) {
        ASSERT_EQ(::chown(file.c_str(), Nobody, Nobody), 0);
    }
    if (s.Kind == TStanding::Link) fs::create_symlink(file, dir.File(name));
}

int LinkMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode) : -1;
}

} // namespace

TEST(PlatformFiles, AReplacedFileNeverTakesTheModeOfWhatStoodAtItsName) {
    struct TCase {
        const char* Name;
        TStanding Before;
        TFileAccess Access;
        int After;
    };
    const TCase cases[] = {
        {"result.txt", {TStanding::Link, 04755}, TFileAccess::Shared, 0644},
        {"KovaGadget.ini", {TStanding::File, 0666}, TFileAccess::Shared, 0644},
        {"watchlist.dat", {TStanding::File, 0755}, TFileAccess::Shared, 0644},
        {"details.html", {TStanding::File, 06777}, TFileAccess::Shared, 0644},
        {"details.html", {TStanding::Nothing}, TFileAccess::Shared, 0644},
        // The user's own file keeps what its owner gave it, but never execute, set-id or write for others.
        {"result.txt", {TStanding::File, 0600}, TFileAccess::Shared, 0600},
        {"KovaGadget.ini", {TStanding::File, 0640}, TFileAccess::Shared, 0640},
        {"result.txt", {TStanding::File, 0444}, TFileAccess::Shared, 0644},
        {"result.txt", {TStanding::File, 0604}, TFileAccess::Shared, 0604},
        {"result.txt", {TStanding::File, 0600, true}, TFileAccess::Shared, 0644},
        {"ebtmp.dat", {TStanding::File, 0666}, TFileAccess::OwnerOnly, 0600},
        {"proxy.dat", {TStanding::Link, 0644}, TFileAccess::OwnerOnly, 0600},
        {"ebtmp.dat", {TStanding::Nothing}, TFileAccess::OwnerOnly, 0600},
    };
    TScopedUmask mask(022);
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " from " + std::to_string(c.Before.Kind) + " mode " +
                     std::to_string(c.Before.Mode));
        if (c.Before.Stranger && ::geteuid() != 0) continue; // only root can give a file away
        TTempDir dir, elsewhere;
        Lay(dir, elsewhere, c.Name, c.Before);
        WriteFileAtomic(dir.File(c.Name), "after", c.Access);
        const int mode = LinkMode(dir.File(c.Name));
        EXPECT_TRUE(S_ISREG(mode)) << "a regular file in place of a link";
        EXPECT_EQ(mode & 07777, c.After);
        EXPECT_EQ(ReadFileBytes(dir.File(c.Name)), "after");
        if (c.Before.Kind == TStanding::Link) {
            EXPECT_EQ(ReadFileBytes(elsewhere.File("target")), "before") << "the link's target is untouched";
            EXPECT_EQ(FilePermissions(elsewhere.File("target")), c.Before.Mode);
        }
    }
}

TEST(PlatformFiles, AppendingNeverWritesThroughALinkAndKeepsOwnerOnlyFilesToTheirOwner) {
    struct TCase {
        const char* What;
        std::function<void(const TTempDir& dir, const TTempDir& elsewhere)> Lay;
        TFileAccess Access;
        const char* Refusal; // part of the error text, or nullptr when the append succeeds
        int After;           // the file's mode after a successful append
    };
    const auto target = [](const TTempDir& elsewhere, int mode) {
        const std::string path = elsewhere.File("target");
        WriteFileAtomic(path, "before");
        ::chmod(path.c_str(), static_cast<mode_t>(mode));
        return path;
    };
    const TCase cases[] = {
        {"a new log", [](auto&, auto&) {}, TFileAccess::OwnerOnly, nullptr, 0600},
        {"a log others could read",
         [](const TTempDir& dir, auto&) {
             WriteFileAtomic(dir.File("kova.log"), "before");
             ::chmod(dir.File("kova.log").c_str(), 0644);
         },
         TFileAccess::OwnerOnly, nullptr, 0600},
        {"a link to a file",
         [&](const TTempDir& dir, const TTempDir& elsewhere) {
             fs::create_symlink(target(elsewhere, 0644), dir.File("kova.log"));
         },
         TFileAccess::OwnerOnly, "It is a symbolic link, and it is not written through.", 0},
        {"a shared file's link",
         [&](const TTempDir& dir, const TTempDir& elsewhere) {
             fs::create_symlink(target(elsewhere, 0666), dir.File("kova.log"));
         },
         TFileAccess::Shared, "symbolic link", 0},
        {"a dangling link",
         [](const TTempDir& dir, const TTempDir& elsewhere) {
             fs::create_symlink(elsewhere.File("target"), dir.File("kova.log"));
         },
         TFileAccess::OwnerOnly, "symbolic link", 0},
        {"a FIFO", [](const TTempDir& dir, auto&) { ::mkfifo(dir.File("kova.log").c_str(), 0600); },
         TFileAccess::OwnerOnly, "It is not a regular file.", 0},
        {"another user's log",
         [](const TTempDir& dir, auto&) {
             WriteFileAtomic(dir.File("kova.log"), "before", TFileAccess::OwnerOnly);
             ::chown(dir.File("kova.log").c_str(), Nobody, Nobody);
         },
         TFileAccess::OwnerOnly, "It belongs to another user.", 0},
    };
    TScopedUmask mask(022);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        if (std::string(c.What) == "another user's log" && ::geteuid() != 0) continue;
        TTempDir dir, elsewhere;
        c.Lay(dir, elsewhere);
        const std::string before =
            fs::is_regular_file(dir.File("kova.log")) ? ReadTextFile(dir.File("kova.log")) : "";
        const std::string error = ErrorOf([&] { AppendToFile(dir.File("kova.log"), "line\r\n", c.Access); });
        if (c.Refusal) {
            EXPECT_NE(error.find(c.Refusal), std::string::npos) << error;
            EXPECT_NE(error.find(dir.File("kova.log")), std::string::npos) << error;
            if (fs::exists(elsewhere.File("target"))) {
                EXPECT_EQ(ReadFileBytes(elsewhere.File("target")), "before");
            } else {
                EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere.File("target"))));
            }
        } else {
            EXPECT_EQ(error, "no error");
            EXPECT_EQ(ReadFileBytes(dir.File("kova.log")), before + "line\r\n");
            EXPECT_EQ(FilePermissions(dir.File("kova.log")), c.After);
        }
    }
}
