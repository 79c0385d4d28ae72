/*
 * test_logparser.dll: a library that regsvr32 can register, standing in for
 * the agent's Logparser.dll in the scenarios. Copied into an install folder as
 * Logparser.dll:
 *
 *   DllRegisterServer appends "registered" + CR LF to logparser_calls.txt in
 *   the library's own folder and returns S_OK, so `regsvr32 /s PATH` ends
 *   with 0 and the file shows that the library at exactly PATH was loaded;
 *   DllUnregisterServer appends "unregistered" the same way.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static HINSTANCE g_module;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}

static void record(const char* what) {
    char path[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    char* slash = strrchr(path, '\\');
    if (!slash) return;
    strcpy(slash + 1, "logparser_calls.txt");
    FILE* calls = fopen(path, "ab");
    if (!calls) return;
    fprintf(calls, "%s\r\n", what);
    fclose(calls);
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) {
    record("registered");
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) {
    record("unregistered");
    return S_OK;
}
