// The program: help and version, the machine, the run or its preview, the exit status.
#include <initializer_list>
#include <string>

#include "os/entry.h"
#include "os/make_system.h"
#include "run/main_run.h"
#include "run/preview.h"

namespace {

constexpr int kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

const char* const kUsage =
    "Quillet " QUILLET_VERSION
    " - maintenance and health check of the KORBOD agent\r\n"
    "\r\n"
    "usage: quillet [TASK[,TASK...]]\r\n"
    "       quillet --preview [TASK[,TASK...]]   what that run would do; nothing is changed\r\n"
    "       quillet --help | --version\r\n"
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
    "Exit status: 0 done, 1 a check failed, 2 no install path, 3 ended by a failure,\r\n"
    "87 an unknown option. Exits 2 and 3 are also recorded in the Application event log.\r\n";

// Blanks and tabs around the text, which a scheduler's entry easily carries.
std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isOneOf(const std::string& text, std::initializer_list<const char*> forms) {
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const char* form : forms)
        if (lower == form) return true;
    return false;
}

int run(quillet::os::System& system, const std::string& commandText) {
    quillet::RunState state;
    state.commandText = commandText;
    quillet::Context ctx{system, state};
    return quillet::finishRun(ctx, quillet::Main(ctx));
}

int preview(const std::string& taskWords) {
    auto real = quillet::os::makeSystem();
    quillet::PreviewSystem system(*real, quillet::os::printToConsole);
    system.say("Preview of: quillet " + taskWords + "  (nothing is changed)");
    const int status = run(system, taskWords);
    system.say("exit    " + std::to_string(status));
    return 0;
}

}  // namespace

int quillet::programMain(const std::string& commandText) {
    const std::string text = trimmed(commandText);
    if (isOneOf(text, {"/?", "-?", "-h", "/h", "--help", "/help"})) {
        quillet::os::printToConsole(kUsage);
        return 0;
    }
    if (isOneOf(text, {"-v", "/v", "--version", "/version"})) {
        quillet::os::printToConsole("Quillet " QUILLET_VERSION "\r\n");
        return 0;
    }
    // No task word begins so: an option this program does not know must not
    // become a run, nor be previewed as one.
    const auto isOption = [](const std::string& t) {
        return !t.empty() && (t[0] == '-' || t[0] == '/');
    };
    const std::string previewWord = "--preview";
    const bool previewing = text.compare(0, previewWord.size(), previewWord) == 0 &&
                            (text.size() == previewWord.size() || text[previewWord.size()] == ' ' ||
                             text[previewWord.size()] == '\t');
    // The preview hands the run exactly the text that run would get (all
    // after the word and the one blank that ends it), blanks and tabs
    // included, so that it decides as that run does.
    std::string tasks = commandText;
    if (previewing) {
        const std::size_t after = commandText.find(previewWord) + previewWord.size() + 1;
        tasks = after < commandText.size() ? commandText.substr(after) : std::string();
    }
    if (isOption(trimmed(tasks))) {
        quillet::os::printToConsole(kUsage);
        return kInvalidParameter;
    }
    if (previewing) return preview(tasks);
    auto system = quillet::os::makeSystem();
    return run(*system, commandText);
}
