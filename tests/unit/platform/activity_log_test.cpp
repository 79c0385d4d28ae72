#include "platform/activity_log.h"

#include <gtest/gtest.h>

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
        EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"), "12/05/2026 04:13:01\t" + c.written + "\r\n")
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

}  // namespace
}  // namespace quillet
