#include "platform/activity_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;

TEST(ActivityLog, WritesTimestampTabMessageAndCrLf) {
    FakeRun f;
    f.os.clock = {2026, 12, 5, 4, 13, 1};
    PblSubWriteLog(f.ctx, "INF : first");
    f.os.clock = {2027, 1, 9, 23, 5, 59};
    PblSubWriteLog(f.ctx, "");
    EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"),
              "12/05/2026 04:13:01\tINF : first\r\n01/09/2027 23:05:59\t\r\n");
}

TEST(ActivityLog, RemovesCrLfPairsButKeepsLoneBreaks) {
    struct Case {
        std::string message, written;
    } cases[] = {
        {"line one\r\nline two", "line oneline two"},
        {"a\nb", "a\nb"},
        {"a\rb", "a\rb"},
        {"a\r\r\nb\n\r", "a\rb\n\r"},
    };
    for (const auto& c : cases) {
        FakeRun f;
        PblSubWriteLog(f.ctx, c.message);
        EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"),
                  "12/05/2026 04:13:01\t" + c.written + "\r\n")
            << c.message;
    }
}

TEST(ActivityLog, CreatesMissingFoldersUnderAnInstallPathWithoutBackslash) {
    FakeRun f;
    f.os.setString("Software\\KORBOD", "InstallationPath", "D:\\Agent");
    PblSubWriteLog(f.ctx, "hello");
    std::ifstream in(f.os.hostPath("D:\\Agent\\ApplicationLog\\MNStatusLog.txt"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "12/05/2026 04:13:01\thello\r");
}

TEST(ActivityLog, ALineThatCannotBeWrittenIsLostSilently) {
    FakeRun f;
    f.os.failOn("appendToFile", "MNStatusLog.txt");
    EXPECT_NO_THROW(PblSubWriteLog(f.ctx, "lost"));
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
}

TEST(ActivityLog, LinesAreWholeOrAbsentOnAFullDiskOrAReadOnlyLog) {
    // The file size limit stands in for a disk that fills in the middle of a
    // line: the write takes what fits, then fails.
    FakeRun f;
    PblSubWriteLog(f.ctx, "INF : before");
    const std::string before = f.read("ApplicationLog\\MNStatusLog.txt");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size() + 10;
    setrlimit(RLIMIT_FSIZE, &small);
    PblSubWriteLog(f.ctx, "INF : a line longer than the room left on the disk");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"), before);

    chmod(f.hostFile("ApplicationLog\\MNStatusLog.txt").c_str(), 0444);
    PblSubWriteLog(f.ctx, "INF : refused even to an administrator");
    EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"), before);
    chmod(f.hostFile("ApplicationLog\\MNStatusLog.txt").c_str(), 0644);
    PblSubWriteLog(f.ctx, "INF : after");
    EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"),
              before + "12/05/2026 04:13:01\tINF : after\r\n");
}

}  // namespace
}  // namespace quillet
