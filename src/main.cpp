// Process entry: the command text, the machine, the run, the exit status.
#include <string>

#include "os/make_system.h"
#include "run/main_run.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char* const kUsage =
    "Quillet " QUILLET_VERSION
    " - maintenance and health check of the KORBOD agent\r\n"
    "\r\n"
    "usage: quillet [TASK[,TASK...]]\r\n"
    "\r\n"
    "  (blank)      the default run: log and data sweeps, device list, services,\r\n"
    "               agent type, device list validation, folder size report\r\n"
    "  LOG          delete aged and oversized log files\r\n"
    "  DATA         delete aged data files\r\n"
    "  DEVICELIST   complete DeviceList.ini from the registry\r\n"
    "  SRV          check the agent's default services\r\n"
    "  ALERT        count pending alert tickets\r\n"
    "  TYPE         check the agent type\r\n"
    "  CFG          validate DeviceList.ini\r\n"
    "  AGTHLTHCHK   the agent health check run (alone on the command line)\r\n"
    "\r\n"
    "Everything is recorded in <InstallationPath>\\ApplicationLog\\MNStatusLog.txt.\r\n"
    "Exit status: 0 done, 1 a check reported Failed, 2 no install path, 3 ended by a failure.\r\n";

int runWith(const std::string& commandText) {
    if (commandText == "/?" || commandText == "-h" || commandText == "--help") {
        quillet::os::printToConsole(kUsage);
        return 0;
    }
    if (commandText == "--version") {
        quillet::os::printToConsole("Quillet " QUILLET_VERSION "\r\n");
        return 0;
    }
    auto system = quillet::os::makeSystem(commandText);
    quillet::RunState run;
    quillet::Context ctx{*system, run};
    const quillet::RunEnd end = quillet::Main(ctx);
    return quillet::exitStatus(end, run);
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return runWith(quillet::os::processCommandText(0, nullptr));
}
#else
int main(int argc, char** argv) { return runWith(quillet::os::processCommandText(argc, argv)); }
#endif
