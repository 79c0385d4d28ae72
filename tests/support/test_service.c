/*
 * A real Windows service for the scenarios: it stands in for the agent's
 * services so that the service query sees true service control manager
 * states. Register it under any name, e.g.
 *
 *   sc create KORBGuard binPath= "C:\tools\test_service.exe KORBGuard"
 *
 * It reports RUNNING once started and answers STOP, PAUSE and CONTINUE.
 * Wine's sc has no "pause" or "continue"; this program does them too:
 *
 *   test_service.exe --control pause|continue|stop NAME
 *
 * sends the control to the service NAME, waits (10 s at most) until the
 * service reports the state it leads to, and exits 0 then, 1 otherwise.
 *
 * Arguments after the executable path, when started as a service:
 *   NAME              the service name to register the control handler under
 *                     (default: the name the service control manager starts
 *                     it by)
 *   --start-pending   stay in START_PENDING instead of reaching RUNNING (it
 *                     still answers STOP)
 *   --start-paused    go straight to PAUSED after starting
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winsvc.h>

enum StartMode { START_RUNNING, START_PENDING_FOR_EVER, START_PAUSED };

static char g_name[257];
static enum StartMode g_mode = START_RUNNING;
static SERVICE_STATUS_HANDLE g_statusHandle;
static SERVICE_STATUS g_status;
static DWORD g_checkPoint;
static HANDLE g_stopEvent;

static void report(DWORD state) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwServiceSpecificExitCode = 0;
    if (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING) {
        g_status.dwControlsAccepted = 0;
    } else if (state == SERVICE_START_PENDING) {
        g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    } else {
        g_status.dwControlsAccepted =
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    }
    /* Pending states must show progress, or the manager takes the service for hung. */
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
        g_status.dwCheckPoint = ++g_checkPoint;
        g_status.dwWaitHint = 30000;
    } else {
        g_status.dwCheckPoint = 0;
        g_status.dwWaitHint = 0;
    }
    SetServiceStatus(g_statusHandle, &g_status);
}

static DWORD WINAPI handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    (void)eventType;
    (void)eventData;
    (void)context;
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            report(SERVICE_STOP_PENDING);
            SetEvent(g_stopEvent);
            return NO_ERROR;
        case SERVICE_CONTROL_PAUSE:
            if (g_status.dwCurrentState != SERVICE_RUNNING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            report(SERVICE_PAUSED);
            return NO_ERROR;
        case SERVICE_CONTROL_CONTINUE:
            if (g_status.dwCurrentState != SERVICE_PAUSED) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
            report(SERVICE_RUNNING);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            report(g_status.dwCurrentState);
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

static void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
    /* An own-process service is started whatever name its table gives; the
       manager passes the name it was started by as the first argument. */
    if (g_name[0] == '\0' && argc > 0 && argv[0] != NULL) {
        strncpy(g_name, argv[0], sizeof g_name - 1);
    }
    g_statusHandle = RegisterServiceCtrlHandlerExA(g_name, handler, NULL);
    if (g_statusHandle == NULL) return;
    g_stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (g_stopEvent == NULL) {
        report(SERVICE_STOPPED);
        return;
    }
    report(SERVICE_START_PENDING);
    if (g_mode == START_RUNNING) report(SERVICE_RUNNING);
    if (g_mode == START_PAUSED) report(SERVICE_PAUSED);
    WaitForSingleObject(g_stopEvent, INFINITE);
    report(SERVICE_STOPPED);
}

/* Sends one control to a service and waits for the state it leads to. */
static int control(const char* verb, const char* name) {
    DWORD code;
    DWORD target;
    SC_HANDLE manager;
    SC_HANDLE service;
    SERVICE_STATUS status;
    int tries;
    int ok = 0;
    if (strcmp(verb, "pause") == 0) {
        code = SERVICE_CONTROL_PAUSE;
        target = SERVICE_PAUSED;
    } else if (strcmp(verb, "continue") == 0) {
        code = SERVICE_CONTROL_CONTINUE;
        target = SERVICE_RUNNING;
    } else if (strcmp(verb, "stop") == 0) {
        code = SERVICE_CONTROL_STOP;
        target = SERVICE_STOPPED;
    } else {
        fprintf(stderr, "test_service: unknown control %s\n", verb);
        return 2;
    }
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        fprintf(stderr, "test_service: OpenSCManager failed, error %lu\n",
                (unsigned long)GetLastError());
        return 1;
    }
    service =
        OpenServiceA(manager, name, SERVICE_PAUSE_CONTINUE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        fprintf(stderr, "test_service: OpenService %s failed, error %lu\n", name,
                (unsigned long)GetLastError());
        CloseServiceHandle(manager);
        return 1;
    }
    if (!ControlService(service, code, &status)) {
        fprintf(stderr, "test_service: ControlService %s %s failed, error %lu\n", verb, name,
                (unsigned long)GetLastError());
    } else {
        for (tries = 0; tries < 100; ++tries) {
            if (!QueryServiceStatus(service, &status)) break;
            if (status.dwCurrentState == target) {
                ok = 1;
                break;
            }
            Sleep(100);
        }
        printf("%s: state %lu\n", name, (unsigned long)status.dwCurrentState);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    int i;
    SERVICE_TABLE_ENTRYA table[2];
    if (argc == 4 && strcmp(argv[1], "--control") == 0) return control(argv[2], argv[3]);
    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--start-pending") == 0) {
            g_mode = START_PENDING_FOR_EVER;
        } else if (strcmp(argv[i], "--start-paused") == 0) {
            g_mode = START_PAUSED;
        } else if (argv[i][0] != '-' && g_name[0] == '\0') {
            strncpy(g_name, argv[i], sizeof g_name - 1);
        } else {
            fprintf(stderr, "test_service: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    table[0].lpServiceName = g_name[0] != '\0' ? g_name : (LPSTR) "QuilletTestService";
    table[0].lpServiceProc = serviceMain;
    table[1].lpServiceName = NULL;
    table[1].lpServiceProc = NULL;
    if (!StartServiceCtrlDispatcherA(table)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            fprintf(stderr,
                    "test_service: a Windows service; register it with\n"
                    "  sc create NAME binPath= \"PATH\\test_service.exe NAME\"\n"
                    "and start it with sc start NAME\n");
        } else {
            fprintf(stderr, "test_service: StartServiceCtrlDispatcher failed, error %lu\n",
                    (unsigned long)error);
        }
        return 1;
    }
    return 0;
}
