/*
 * A real Windows service standing in for the agent's services, so that the
 * service query sees true service control manager states:
 *
 *   sc create NAME binPath= "C:\tools\test_service.exe NAME [--start-pending|--start-paused]"
 *
 * It reports RUNNING once started (or stays START_PENDING, or goes straight
 * to PAUSED, a state Wine's sc cannot lead to) and answers STOP.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char g_name[257];
static DWORD g_startState = SERVICE_RUNNING;
static SERVICE_STATUS_HANDLE g_handle;
static SERVICE_STATUS g_status = {.dwServiceType = SERVICE_WIN32_OWN_PROCESS};
static HANDLE g_stopEvent;

static void report(DWORD state) {
    const int pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING ? 0
                                  : state == SERVICE_START_PENDING
                                      ? SERVICE_ACCEPT_STOP
                                      : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    /* Pending states must show progress, or the manager takes the service for hung. */
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = pending ? 30000 : 0;
    SetServiceStatus(g_handle, &g_status);
}

static DWORD WINAPI handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
    (void)type, (void)data, (void)context;
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        SetEvent(g_stopEvent);
    } else if (control == SERVICE_CONTROL_INTERROGATE) {
        report(g_status.dwCurrentState);
    } else {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return NO_ERROR;
}

static void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
    (void)argc, (void)argv;
    g_handle = RegisterServiceCtrlHandlerExA(g_name, handler, NULL);
    if (!g_handle) return;
    g_stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    report(SERVICE_START_PENDING);
    if (g_stopEvent && g_startState != SERVICE_START_PENDING) report(g_startState);
    if (g_stopEvent) WaitForSingleObject(g_stopEvent, INFINITE);
    report(SERVICE_STOPPED);
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--start-pending") == 0) {
            g_startState = SERVICE_START_PENDING;
        } else if (strcmp(argv[i], "--start-paused") == 0) {
            g_startState = SERVICE_PAUSED;
        } else if (argv[i][0] != '-' && g_name[0] == '\0') {
            strncpy(g_name, argv[i], sizeof g_name - 1);
        } else {
            fprintf(stderr, "test_service: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    SERVICE_TABLE_ENTRYA table[2] = {{g_name, serviceMain}};
    if (!StartServiceCtrlDispatcherA(table)) {
        fprintf(stderr, "test_service: not started as a service (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
