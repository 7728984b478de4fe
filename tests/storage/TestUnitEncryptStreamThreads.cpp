// ctest-labels: threaded
#include "storage/UnitEncryptStream.h"
#include "storage/UnitKovaDatFile.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

class TPair : public TEncryptStreamBase {
public:
    std::string ClassName() const override { return "TPair"; }
    void WriteFieldValues(TValueWriter& writer) override {
        writer.WriteString(UserName);
        writer.WriteString(Password);
    }
    void ReadFieldValues(TValueReader& reader) override {
        UserName = reader.ReadString();
        Password = reader.ReadString();
    }
    std::string UserName, Password;
};

} // namespace

TEST(UnitEncryptStreamThreads, ThreadsWithTheirOwnObjectsDoNotMeet) {
    // The cipher code keeps no shared state: worker threads may each load and save at the same time.
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 50; ++i) {
                TPair out;
                out.UserName = "user" + std::to_string(t);
                out.Password = std::string(static_cast<size_t>(i), 'p');
                TMemoryStream file;
                out.SaveToStreamEncrypted(file);
                file.SetPosition(0);
                TPair in;
                in.LoadFromStreamEncrypted(file);
                const std::string payload(static_cast<size_t>(100 + i), static_cast<char>('a' + t));
                if (in.UserName != out.UserName || in.Password != out.Password ||
                    UnpackKovaDat(PackKovaDat(payload)) != payload)
                    ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
