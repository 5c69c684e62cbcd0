// Windows: the version, suite and product queries of the running system, fed
// to the decision table in os_description.cpp.
#include "metrics/os_description.h"

#include <windows.h>

#include "base/debug_log.h"

namespace {

constexpr wchar_t kKernel32[] = L"kernel32.dll";

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the extended version record");

// Neither function exists on every Windows this runs on, so both are looked
// up at run time.
using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

template <typename Function>
Function kernel32Function(const char* name)
{
    const HMODULE kernel32 = GetModuleHandleW(kKernel32);
    if (kernel32 == nullptr)
        return nullptr;
    const FARPROC address = GetProcAddress(kernel32, name);
    // Through the generic function pointer type, which any function pointer
    // converts to and from.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

std::string buildOsDescription()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = static_cast<DWORD>(sizeof(version));
    SYSTEM_INFO system{};

    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
        return {};

    if (const auto getNativeSystemInfo = kernel32Function<GetNativeSystemInfoFunction>("GetNativeSystemInfo"))
        getNativeSystemInfo(&system);
    else
        GetSystemInfo(&system);

    kiv::WindowsVersionFacts facts;
    facts.majorVersion = version.dwMajorVersion;
    facts.minorVersion = version.dwMinorVersion;
    facts.platformId = version.dwPlatformId;
    facts.productType = version.wProductType;
    facts.suiteMask = version.wSuiteMask;
    facts.architecture = system.wProcessorArchitecture;

    const bool nt = facts.platformId == VER_PLATFORM_WIN32_NT;
    if (nt && facts.majorVersion == 6) {
        if (const auto getProductInfo = kernel32Function<GetProductInfoFunction>("GetProductInfo")) {
            facts.productInfoAvailable = true;
            DWORD productCode = 0;
            if (!getProductInfo(facts.majorVersion, facts.minorVersion, 0, 0, &productCode))
                productCode = 0;
            facts.productCode = productCode;
        }
    }
    if (nt && facts.majorVersion == 5 && facts.minorVersion == 2)
        facts.serverR2Metric = GetSystemMetrics(SM_SERVERR2);

    const kiv::OsDescriptionResult result = kiv::describeWindowsVersion(facts);
    if (!result.supported) {
        kiv::consolePrintf("This sample does not support this version of Windows.\n");
        return {};
    }
    return result.text;
}
