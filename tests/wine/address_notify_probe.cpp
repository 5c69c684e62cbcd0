// Does IP Helper call back a NotifyUnicastIpAddressChange registration when
// an IPv4 address is added? Plain Win32 and iphlpapi, nothing of the program:
// it registers, prints "registered", waits up to SECONDS for a call and
// prints how many came. tests/wine/address-notify.sh adds the address.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> gCalls{0};

VOID NETIOAPI_API_ onChange(PVOID, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE)
{
    ++gCalls;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    HANDLE handle = nullptr;
    const DWORD result = ::NotifyUnicastIpAddressChange(AF_INET, onChange, nullptr, FALSE, &handle);
    std::printf("registered result=%lu\n", static_cast<unsigned long>(result));
    std::fflush(stdout);
    for (int i = 0; i < seconds * 10 && gCalls.load() == 0; ++i)
        ::Sleep(100);
    std::printf("notifications=%d\n", gCalls.load());
    if (handle != nullptr)
        ::CancelMibChangeNotify2(handle);
    return 0;
}
