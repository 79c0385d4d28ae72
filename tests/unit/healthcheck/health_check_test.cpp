#include "healthcheck/health_check.h"

#include <gtest/gtest.h>

#include "platform/health_record.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Lines = std::vector<std::string>;

const std::string kHealthFile = "Configuration\\AgtHealthChk.ini";
const std::string kFirst = "INF : Agent Health Check :: Checking status of services";
const std::string kRunning = "INF : Service found to be running";

std::string down(const std::string& name) {
    return "INF :" + name + "  Service found to be not running";
}

TEST(HealthCheck, RecordsAcrossRunsWithStickyZeroAndGrowingErrdesc) {
    FakeRun f;
    f.writeFile(kHealthFile, "[SERVICE]\r\nsvcfiles=KORBTaskSvc,KORBGuard\r\n");
    struct Step {
        std::vector<std::string> active;
        Lines log;
        std::string status, errdesc;
    } steps[] = {
        {{"KORBTaskSvc"}, {kFirst, kRunning, down("KORBGuard")}, "0", "KORBGuard"},
        {{"KORBTaskSvc"}, {kFirst, kRunning, down("KORBGuard")}, "0", "KORBGuard,KORBGuard"},
        {{"KORBTaskSvc", "KORBGuard"}, {kFirst, kRunning, kRunning}, "0", "KORBGuard,KORBGuard,"},
    };
    for (const auto& step : steps) {
        const std::size_t before =
            f.exists("ApplicationLog\\MNStatusLog.txt") ? f.logMessages().size() : 0;
        f.os.services = step.active;
        SubAgtHlthChkSrvcs(f.ctx);
        const Lines all = f.logMessages();
        EXPECT_EQ(Lines(all.begin() + static_cast<long>(before), all.end()), step.log);
        const std::string file = f.install + kHealthFile;
        EXPECT_EQ(f.os.iniGetString("SERVICE", "status", "?", 255, file), step.status);
        EXPECT_EQ(f.os.iniGetString("SERVICE", "errdesc", "?", 255, file), step.errdesc);
    }
}

TEST(HealthCheck, ListShapesDecideWhatIsAsked) {
    struct Case {
        const char* what;
        const char* file;  // nullptr: no file
        Lines log;
        std::string status, errdesc;  // as the file spells them
    } cases[] = {
        {"missing file is a success with nothing asked", nullptr, {kFirst}, "1", ""},
        {"missing key", "[SERVICE]\r\n", {kFirst}, "1", ""},
        {"all running", "[SERVICE]\r\nsvcfiles=A,B\r\n", {kFirst, kRunning, kRunning}, "1", ""},
        {"trailing comma is an empty name",
         "[SERVICE]\r\nsvcfiles=A,\r\n",
         {kFirst, kRunning, down("")},
         "0",
         ""},
        {"blanks after commas are part of the names",
         "[SERVICE]\r\nsvcfiles=A, B\r\n",
         {kFirst, kRunning, down(" B")},
         "0",
         " B"},
        {"lower-case name of an active service runs",
         "[SERVICE]\r\nsvcfiles=a,b\r\n",
         {kFirst, kRunning, kRunning},
         "1",
         ""},
        {"old status 0 with blanks counts as 0",
         "[SERVICE]\r\nsvcfiles=A\r\nstatus= 0 \r\n",
         {kFirst, kRunning},
         " 0 ",
         ""},
        {"old status 00 is replaced",
         "[SERVICE]\r\nsvcfiles=A\r\nstatus=00\r\n",
         {kFirst, kRunning},
         "1",
         ""},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.os.services = std::vector<std::string>{"A", "B"};
        if (c.file)
            f.writeFile(kHealthFile, c.file);
        else
            f.writeFile("Configuration\\keep", "");
        SubAgtHlthChkSrvcs(f.ctx);
        EXPECT_EQ(f.logMessages(), c.log) << c.what;
        const std::string text = f.read(kHealthFile);
        EXPECT_NE(text.find("\r\nstatus=" + c.status + "\r\n"), std::string::npos) << c.what << "\n"
                                                                                   << text;
        EXPECT_NE(text.find("\r\nerrdesc=" + c.errdesc + "\r\n"), std::string::npos)
            << c.what << "\n"
            << text;
    }
}

TEST(HealthCheck, ConfigurationRecordKeepsItsOwnSection) {
    FakeRun f;
    f.writeFile(kHealthFile, "[SERVICE]\r\nstatus=1\r\n");
    SubUpdtAgtHlthChkStatus(f.ctx, "CONFIGURATION", false, "DeviceList.ini");
    SubUpdtAgtHlthChkStatus(f.ctx, "CONFIGURATION", true, "");
    EXPECT_EQ(
        f.read(kHealthFile),
        "[SERVICE]\r\nstatus=1\r\n[CONFIGURATION]\r\nstatus=0\r\nerrdesc=DeviceList.ini,\r\n");
}

}  // namespace
}  // namespace quillet
