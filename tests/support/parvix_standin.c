/*
 * Stands in for the agent's configuration tool: copied into an install folder
 * as Parvix.exe, it
 *   - first sleeps the milliseconds written in parvix_sleep_ms.txt beside it,
 *     if there is one (a tool that takes its time);
 *   - appends its arguments, each in square brackets, and CR LF to
 *     parvix_runs.txt beside it ("[Local]");
 *   - when ApplicationLog\MNStatusLog.txt exists beside it, appends
 *     "MM/DD/YYYY HH:MM:SS<TAB>TEST : parvix_standin ran with [Local]" there,
 *     so the log shows where the tool ran among the run's own lines;
 *   - exits with the number in parvix_exit_code.txt beside it (0 without one).
 * A GUI-subsystem program (-mwindows): it is started hidden and must not open
 * a console.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char g_folder[MAX_PATH * 2], g_path[MAX_PATH * 3];

/* A file beside this program. */
static const char* beside(const char* name) {
    snprintf(g_path, sizeof g_path, "%s%s", g_folder, name);
    return g_path;
}

static long numberBeside(const char* name) {
    long number = 0;
    FILE* file = fopen(beside(name), "rb");
    if (file && fscanf(file, "%ld", &number) != 1) number = 0;
    if (file) fclose(file);
    return number;
}

int main(int argc, char** argv) {
    DWORD length = GetModuleFileNameA(NULL, g_folder, MAX_PATH);
    char* slash = length < MAX_PATH ? strrchr(g_folder, '\\') : NULL;
    if (slash)
        slash[1] = '\0';
    else
        g_folder[0] = '\0';
    if (numberBeside("parvix_sleep_ms.txt") > 0) Sleep((DWORD)numberBeside("parvix_sleep_ms.txt"));

    char arguments[4096] = "";
    for (int i = 1; i < argc; ++i) {
        size_t used = strlen(arguments);
        snprintf(arguments + used, sizeof arguments - used, "[%s]", argv[i]);
    }
    FILE* runs = fopen(beside("parvix_runs.txt"), "ab");
    if (!runs) return 125;
    fprintf(runs, "%s\r\n", arguments);
    fclose(runs);

    FILE* log =
        GetFileAttributesA(beside("ApplicationLog\\MNStatusLog.txt")) != INVALID_FILE_ATTRIBUTES
            ? fopen(g_path, "ab")
            : NULL;
    if (log) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        fprintf(log, "%02u/%02u/%04u %02u:%02u:%02u\tTEST : parvix_standin ran with %s\r\n",
                now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, arguments);
        fclose(log);
    }
    return (int)numberBeside("parvix_exit_code.txt");
}
