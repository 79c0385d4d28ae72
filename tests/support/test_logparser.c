/*
 * Stands in for the agent's Logparser.dll: DllRegisterServer appends
 * "registered" CR LF to logparser_calls.txt in the library's own folder and
 * returns S_OK, so that `regsvr32 /s PATH` ends with 0 and the file shows
 * that the library at exactly PATH was loaded.
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

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) {
    char path[MAX_PATH + 32] = "";
    DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    char* slash = length < MAX_PATH ? strrchr(path, '\\') : NULL;
    if (slash) strcpy(slash + 1, "logparser_calls.txt");
    FILE* calls = slash ? fopen(path, "ab") : NULL;
    if (calls) {
        fputs("registered\r\n", calls);
        fclose(calls);
    }
    return S_OK;
}
