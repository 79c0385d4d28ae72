/*
 * parvix_standin: takes the place of the agent's configuration tool
 * Parvix.exe in the scenarios. Copied into an install folder as Parvix.exe,
 * it records every start and ends:
 *
 *   it appends one line to parvix_runs.txt beside itself: each argument (as
 *   the C runtime parsed the command line) in square brackets, then CR LF, so
 *   a start with the one parameter Local gives "[Local]";
 *   when ApplicationLog\MNStatusLog.txt (the agent's activity log) exists
 *   beside it, it appends a line of its own there in the log's layout,
 *   "MM/DD/YYYY HH:MM:SS" TAB "TEST : parvix_standin ran with [Local]", so
 *   the log shows where the tool ran among the run's own lines;
 *   when parvix_sleep_ms.txt lies beside it, it first sleeps the number of
 *   milliseconds written there (a tool that takes its time);
 *   its exit code is the number in parvix_exit_code.txt beside it, 0 without
 *   that file.
 *
 * A GUI-subsystem program (built with -mwindows): the tool is started hidden
 * from a program without a console, and must not open one.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* The folder of this program, with its final backslash; "" when unknown. */
static void ownFolder(char* folder, size_t size) {
    DWORD length = GetModuleFileNameA(NULL, folder, (DWORD)size);
    if (length == 0 || length >= size) {
        folder[0] = '\0';
        return;
    }
    char* slash = strrchr(folder, '\\');
    if (slash)
        slash[1] = '\0';
    else
        folder[0] = '\0';
}

/* The number written in a file beside this program; `fallback` without one. */
static long numberBeside(const char* folder, const char* name, long fallback) {
    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, "%s%s", folder, name);
    FILE* file = fopen(path, "rb");
    if (!file) return fallback;
    long number = fallback;
    if (fscanf(file, "%ld", &number) != 1) number = fallback;
    fclose(file);
    return number;
}

/* Appends the line to the agent's activity log beside this program, if any. */
static void logBeside(const char* folder, const char* arguments) {
    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, "%sApplicationLog\\MNStatusLog.txt", folder);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    FILE* log = fopen(path, "ab");
    if (!log) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(log, "%02u/%02u/%04u %02u:%02u:%02u\tTEST : parvix_standin ran with %s\r\n", now.wMonth,
            now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, arguments);
    fclose(log);
}

int main(int argc, char** argv) {
    char folder[MAX_PATH * 2];
    ownFolder(folder, sizeof folder);

    long sleepMs = numberBeside(folder, "parvix_sleep_ms.txt", 0);
    if (sleepMs > 0) Sleep((DWORD)sleepMs);

    char arguments[4096] = "";
    size_t used = 0;
    for (int i = 1; i < argc && used < sizeof arguments; ++i) {
        int n = snprintf(arguments + used, sizeof arguments - used, "[%s]", argv[i]);
        if (n < 0) break;
        used += (size_t)n;
    }

    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, "%sparvix_runs.txt", folder);
    FILE* runs = fopen(path, "ab");
    if (!runs) return 125;
    fprintf(runs, "%s\r\n", arguments);
    fclose(runs);
    logBeside(folder, arguments);

    return (int)numberBeside(folder, "parvix_exit_code.txt", 0);
}
