/*
 * rawlaunch: starts a program with an exact, raw command line and returns its
 * exit code.
 *
 *   rawlaunch [-t SECONDS] [-f] PROGRAM TEXT
 *
 * `wine prog ARGS` re-quotes every argument that holds a blank, so a command
 * text with leading, trailing or repeated blanks cannot be given to a program
 * directly. rawlaunch takes the text in a form that no quoting can alter and
 * hands it to CreateProcessA unchanged:
 *
 *   x:HEX    the bytes of the text, two hex digits each ("x:" alone: empty)
 *   @FILE    the exact bytes of FILE (no line end is stripped)
 *   other    the argument itself, as the C runtime parsed it
 *
 * The command line is "PROGRAM" TEXT: the program path in double quotes, one
 * blank, then the text; an empty text gives "PROGRAM" alone. With -f the text
 * is the whole command line, program name included, as a scheduler might
 * write it; PROGRAM still names the file that runs.
 *
 * Exit code: the program's own. 124 when it ran longer than the time limit
 * (default 120 s; 0 = no limit) and was ended; 125 when rawlaunch could not
 * start it or was called wrongly.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

enum { kExitTimedOut = 124, kExitLaunchFailed = 125 };

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Decodes HEX into a new NUL-terminated buffer; NULL when malformed. The
 * command text of a Windows process cannot hold a NUL, so none is accepted. */
static char* decodeHex(const char* hex) {
    size_t length = strlen(hex);
    if (length % 2 != 0) return NULL;
    char* text = malloc(length / 2 + 1);
    if (!text) return NULL;
    for (size_t i = 0; i < length / 2; ++i) {
        int high = hexDigit(hex[2 * i]);
        int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            free(text);
            return NULL;
        }
        text[i] = (char)(high * 16 + low);
    }
    text[length / 2] = '\0';
    return text;
}

static char* readWholeFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) return NULL;
    char* text = NULL;
    if (fseek(file, 0, SEEK_END) == 0) {
        long size = ftell(file);
        if (size >= 0 && fseek(file, 0, SEEK_SET) == 0) {
            text = malloc((size_t)size + 1);
            if (text && fread(text, 1, (size_t)size, file) == (size_t)size) {
                text[size] = '\0';
                if (strlen(text) != (size_t)size) { /* a NUL inside */
                    free(text);
                    text = NULL;
                }
            } else {
                free(text);
                text = NULL;
            }
        }
    }
    fclose(file);
    return text;
}

static char* commandTextFrom(const char* argument) {
    if (strncmp(argument, "x:", 2) == 0) return decodeHex(argument + 2);
    if (argument[0] == '@') return readWholeFile(argument + 1);
    return _strdup(argument);
}

static void usage(void) {
    fputs("usage: rawlaunch [-t SECONDS] [-f] PROGRAM (x:HEX | @FILE | TEXT)\n", stderr);
}

int main(int argc, char** argv) {
    DWORD timeoutMs = 120 * 1000;
    int wholeLine = 0;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (strcmp(argv[arg], "-t") == 0 && arg + 1 < argc) {
            long seconds = strtol(argv[++arg], NULL, 10);
            timeoutMs = seconds > 0 ? (DWORD)seconds * 1000 : INFINITE;
        } else if (strcmp(argv[arg], "-f") == 0) {
            wholeLine = 1;
        } else {
            usage();
            return kExitLaunchFailed;
        }
    }
    if (argc - arg != 2) {
        usage();
        return kExitLaunchFailed;
    }
    const char* program = argv[arg];
    char* text = commandTextFrom(argv[arg + 1]);
    if (!text) {
        fprintf(stderr, "rawlaunch: cannot read the command text from %s\n", argv[arg + 1]);
        return kExitLaunchFailed;
    }

    char* commandLine;
    if (wholeLine) {
        commandLine = text;
    } else {
        size_t size = strlen(program) + strlen(text) + 4;
        commandLine = malloc(size);
        if (!commandLine) return kExitLaunchFailed;
        if (text[0] != '\0')
            snprintf(commandLine, size, "\"%s\" %s", program, text);
        else
            snprintf(commandLine, size, "\"%s\"", program);
        free(text);
    }

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process)) {
        fprintf(stderr, "rawlaunch: cannot start %s (error %lu)\n", program,
                (unsigned long)GetLastError());
        free(commandLine);
        return kExitLaunchFailed;
    }
    free(commandLine);
    CloseHandle(process.hThread);

    DWORD exitCode = kExitLaunchFailed;
    DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = kExitLaunchFailed;
    } else if (waited == WAIT_TIMEOUT) {
        fprintf(stderr, "rawlaunch: %s still ran after the time limit; ended it\n", program);
        TerminateProcess(process.hProcess, kExitTimedOut);
        WaitForSingleObject(process.hProcess, 5000);
        exitCode = kExitTimedOut;
    } else {
        fprintf(stderr, "rawlaunch: waiting for %s failed (error %lu)\n", program,
                (unsigned long)GetLastError());
    }
    CloseHandle(process.hProcess);
    return (int)exitCode;
}
