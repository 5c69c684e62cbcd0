// Plain Winsock, no Asio and nothing of the program: what an overlapped
// WSARecvFrom does on a socket tied to a completion port when the datagram
// already waiting is longer than the buffer. Run by hand in a Wine session:
//
//   tests/wine/wine-session.sh wine build-win/tests/wine/winsock-cut-receive.exe
//
// Under Wine each round prints that the call failed at once with 10040
// (WSAEMSGSIZE) and that the port then delivered the same OVERLAPPED all the
// same (1,501 bytes, error 234, ERROR_MORE_DATA): a receive that Asio takes
// as never started, completes itself, and then sees completed a second time.
// Hence the program's receive buffers hold any datagram (net/datagram_buffer.h).
#include <winsock2.h>

#include <array>
#include <cstdio>

int main()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    SOCKET receiver = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(45999);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::printf("bind failed: %d\n", WSAGetLastError());
        return 1;
    }
    HANDLE port = CreateIoCompletionPort(reinterpret_cast<HANDLE>(receiver), nullptr, 1, 0);
    SOCKET sender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    static std::array<char, 3000> datagram{};
    static std::array<char, 1501> buffer{};
    int doubled = 0;
    for (int round = 0; round < 3; ++round) {
        sendto(sender, datagram.data(), static_cast<int>(datagram.size()), 0,
               reinterpret_cast<sockaddr*>(&address), sizeof address);
        Sleep(100);  // the datagram waits before the receive starts
        WSABUF part{static_cast<ULONG>(buffer.size()), buffer.data()};
        OVERLAPPED overlapped{};
        DWORD bytes = 0;
        DWORD flags = 0;
        sockaddr_in from{};
        int fromSize = sizeof from;
        const int result = WSARecvFrom(receiver, &part, 1, &bytes, &flags,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize, &overlapped,
                                       nullptr);
        const int error = result != 0 ? WSAGetLastError() : 0;
        std::printf("round %d: WSARecvFrom returned %d, error %d\n", round, result, error);
        DWORD completed = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* which = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(port, &completed, &key, &which, 1000);
        std::printf("round %d: completion packet %s, %lu bytes, error %lu\n", round,
                    which == &overlapped ? "for this receive" : "none",
                    static_cast<unsigned long>(completed),
                    static_cast<unsigned long>(ok ? 0 : GetLastError()));
        if (result != 0 && error != WSA_IO_PENDING && which == &overlapped)
            ++doubled;
    }
    std::printf("%d of 3 receives failed at once and completed on the port as well\n", doubled);
    closesocket(sender);
    closesocket(receiver);
    CloseHandle(port);
    WSACleanup();
    return 0;
}
