#include "os/host/ini_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/fake_system.h"

namespace quillet::os::host {
namespace {

class IniEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
    void TearDown() override { std::filesystem::remove_all(dir_, ignored_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_ = ::testing::TempDir() + "/ini_engine_XXXXXX";
    std::error_code ignored_;
};
using IniEngineCache = IniEngineTest;

// Rewrites the file in place (same inode), as an editor that truncates does.
void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}
// Sets the modification time this many seconds after a fixed moment.
constexpr long kStart = 1577836800;
void setTime(const std::string& file, long seconds) {
    const timespec times[2] = {{kStart + seconds, 0}, {kStart + seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// The file read is kept while its inode, size and time stay as they were,
// and dropped when the run starts a program, which may leave all three alike.
TEST_F(IniEngineCache, ReadsAgainWhatChangedOrWhatAStartedProgramMayHaveChanged) {
    struct Step {
        const char* name;
        char how;  // p: rewrite in place, r: replace by rename, d: delete, x: printf by a program
        std::string bytes;
        long seconds;  // the file's time after the step, from the start
        std::string expected;
    };
    const Step steps[] = {
        {"another time", 'p', "[S]\r\nk=2\r\n", 1, "2"},
        {"another file", 'r', "[S]\r\nk=3\r\n", 1, "3"},
        {"another size", 'p', "[S]\r\nk=44\r\n", 1, "44"},
        {"by a program, all alike", 'x', "[S]\\r\\nk=55\\r\\n", 1, "55"},
        {"deleted", 'd', "", 1, "d"},
        {"created again", 'p', "[S]\r\nk=6\r\n", 1, "6"},
    };
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    setTime(file, 0);
    testing::FakeSystem os(dir_);
    ASSERT_EQ(os.iniGetString("S", "k", "d", 100, file), "1");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.how == 'x') {
            ASSERT_EQ(os.startCommandLine("cmd /c printf '" + s.bytes + "' >" + file)
                          ->wait(os::kWaitInfinite),
                      os::kWaitObject0);
        }
        if (s.how == 'p') put(file, s.bytes);
        if (s.how == 'r') put(file + ".new", s.bytes);
        const int moved = s.how == 'r' ? ::rename((file + ".new").c_str(), file.c_str()) : 0;
        ASSERT_EQ(s.how == 'd' ? ::unlink(file.c_str()) : moved, 0);
        if (s.how != 'd') setTime(file, s.seconds);
        EXPECT_EQ(os.iniGetString("S", "k", "d", 100, file), s.expected);
    }
}

}  // namespace
}  // namespace quillet::os::host
