/*
 * rawlaunch PROGRAM x:HEX
 *
 * Starts PROGRAM with an exact command line and returns its exit code.
 * `wine prog ARGS` re-quotes every argument that holds a blank, so the text
 * comes as hex digits ("x:" alone: empty), which no quoting alters. The
 * command line is "PROGRAM" TEXT ("PROGRAM" alone for an empty text).
 *
 * Exit code: the program's own; 124 when it ran past 60 s and was ended; 125
 * when it could not be started.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 3 || strncmp(argv[2], "x:", 2) != 0) {
        fputs("usage: rawlaunch PROGRAM x:HEX\n", stderr);
        return 125;
    }
    const char* program = argv[1];
    const char* hex = argv[2] + 2;
    size_t length = strlen(hex) / 2;
    char* line = malloc(strlen(program) + length + 4);
    size_t at = (size_t)sprintf(line, length ? "\"%s\" " : "\"%s\"", program);
    /* A command line cannot hold a NUL: a "00" byte ends the text. */
    for (size_t i = 0; i < length; ++i) {
        unsigned int byte = 0;
        if (sscanf(hex + 2 * i, "%2x", &byte) != 1 || byte == 0) break;
        line[at++] = (char)byte;
    }
    line[at] = '\0';

    STARTUPINFOA startup = {.cb = sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "rawlaunch: cannot start %s (error %lu)\n", program, GetLastError());
        return 125;
    }
    DWORD exitCode = 125;
    if (WaitForSingleObject(process.hProcess, 60 * 1000) == WAIT_TIMEOUT) {
        fprintf(stderr, "rawlaunch: %s still ran after the time limit; ended it\n", program);
        TerminateProcess(process.hProcess, 124);
        WaitForSingleObject(process.hProcess, 5000);
        return 124;
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    return (int)exitCode;
}
