// The in-process server: the unmodified program gets devsim from CoCreateInstance. The
// device tree comes from the scenario file named by DEVSIM_SCENARIO (the demo handheld
// without one); the state goes to DEVSIM_STATE, else back to the scenario file.
#include <stdio.h>
#include <olectl.h>
#include "devsim_internal.h"

static HINSTANCE g_module;
static bool g_loaded;

static std::string SimEnv(const char *name)
{
    char value[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return (n > 0 && n < sizeof(value)) ? std::string(value) : std::string();
}

// Builds the devices once per process, on the first class-object request.
static void SimLoadOnce()
{
    DevsimLock lock;
    if (g_loaded) return;
    g_loaded = true;
    DevsimReset();
    std::string scenario = SimEnv("DEVSIM_SCENARIO"), state = SimEnv("DEVSIM_STATE");
    if (scenario.empty()) {
        DevsimAddDemoHandheld(L"\\\\?\\usb#devsim#demo");
    } else if (!DevsimLoadScenario(scenario.c_str())) {
        OutputDebugStringA("devsim: the scenario file could not be read completely\n");
    }
    DevsimSetStatePath(!state.empty() ? state.c_str() : scenario.c_str());
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    SimLoadOnce();
    return DevsimGetClassObject(clsid, iid, out);
}

// Never unloaded: the counts must survive until the process ends.
extern "C" HRESULT WINAPI DllCanUnloadNow(void) { return S_FALSE; }

static std::wstring SimClassKey(const CLSID *clsid)
{
    WCHAR text[64];
    StringFromGUID2(*clsid, text, 64);
    return std::wstring(L"CLSID\\") + text;
}

extern "C" HRESULT WINAPI DllRegisterServer(void)
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return E_FAIL;
    for (int i = 0; i < DevsimClassCount(); i++) {
        std::wstring key = SimClassKey(DevsimClassId(i)) + L"\\InprocServer32";
        HKEY h;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr))
            return SELFREG_E_CLASS;
        static const WCHAR model[] = L"Both";
        LONG e1 = RegSetValueExW(h, nullptr, 0, REG_SZ, (const BYTE *)path, (n + 1) * sizeof(WCHAR));
        LONG e2 = RegSetValueExW(h, L"ThreadingModel", 0, REG_SZ, (const BYTE *)model, sizeof(model));
        RegCloseKey(h);
        if (e1 || e2) return SELFREG_E_CLASS;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer(void)
{
    for (int i = 0; i < DevsimClassCount(); i++) {
        std::wstring key = SimClassKey(DevsimClassId(i));
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    }
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH && g_loaded) {
        // The final counts: the tree itself was saved at every change.
        SimAfterMutation();
    }
    return TRUE;
}
