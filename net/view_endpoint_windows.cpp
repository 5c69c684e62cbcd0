// Windows: the view channel is a local named pipe, byte mode, overlapped.
// Reads and writes go through Asio's windows::stream_handle, the wait for a
// client through an overlapped ConnectNamedPipe completed by the same
// io_context: nothing here blocks the worker or needs a thread of its own.
//
// Who may connect is the pipe's security descriptor:
//   - NETWORK (any logon over the network) is denied everything, and
//     PIPE_REJECT_REMOTE_CLIENTS refuses remote clients before any check;
//   - SYSTEM, Administrators and INTERACTIVE (whoever is logged on at the
//     station, the console or Remote Desktop) may read and write data only:
//     FILE_GENERIC_READ | FILE_WRITE_DATA. Not GENERIC_WRITE, which holds
//     FILE_APPEND_DATA, for a pipe FILE_CREATE_PIPE_INSTANCE: with it any
//     logged-on user could add an instance of his own to the service's pipe
//     and be connected to the next viewer in the service's place;
//   - the account the service runs as (LocalService under the service
//     manager, the user from a console) gets FILE_GENERIC_READ |
//     FILE_GENERIC_WRITE: creating the second and every later instance is
//     checked against this descriptor and needs FILE_CREATE_PIPE_INSTANCE.
// The first instance is made with FILE_FLAG_FIRST_PIPE_INSTANCE: a pipe of
// that name made by anyone else first makes the service fail, not share it.
#include "net/view_endpoint.h"

#include <boost/asio/post.hpp>
#include <boost/asio/windows/overlapped_ptr.hpp>
#include <boost/asio/windows/stream_handle.hpp>
#include <boost/system/system_error.hpp>

#include <windows.h>

#include <sddl.h>

#include <utility>
#include <vector>

#include "base/debug_log.h"

namespace kiv::view {
namespace {

constexpr wchar_t kServiceName[] = L"VarnWin32";
constexpr DWORD kPipeBufferBytes = 64 * 1024;
// How long a viewer waits for a free instance when all are taken (the
// moment between one viewer's connection and the next instance).
constexpr DWORD kBusyWaitMs = 250;
// A viewer opens the pipe for reading and writing data, nothing more (the
// descriptor grants no more; see above).
constexpr DWORD kViewerAccess = FILE_GENERIC_READ | FILE_WRITE_DATA;

std::wstring wide(const std::string& text)
{
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), length);
    return result;
}

std::string utf8(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.pop_back();  // the terminating zero
    return result;
}

boost::system::error_code lastError()
{
    return boost::system::error_code(static_cast<int>(::GetLastError()), boost::system::system_category());
}

// "DOMAIN\user" of a token's user; empty when it cannot be told.
std::string tokenUserName(HANDLE token)
{
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::string();
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::string();
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (!::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        LPWSTR text = nullptr;
        if (!::ConvertSidToStringSidW(sid, &text))
            return std::string();
        std::string result = utf8(text);
        ::LocalFree(text);
        return result;
    }
    const std::string domainText = utf8(domain);
    return domainText.empty() ? utf8(name) : domainText + "\\" + utf8(name);
}

// The user at the client end of a connected pipe: its token, as far as the
// client lets the server identify it (viewers connect at identification
// level: enough to name them, not to act as them).
std::string clientUserName(HANDLE pipe)
{
    std::string name;
    if (::ImpersonateNamedPipeClient(pipe)) {
        HANDLE token = nullptr;
        if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
            // Looked up after reverting: the lookup runs as the service.
            ::RevertToSelf();
            name = tokenUserName(token);
            ::CloseHandle(token);
        } else {
            ::RevertToSelf();
        }
    }
    if (!name.empty())
        return name;
    // The client's process, where impersonation is not there.
    ULONG processId = 0;
    if (!::GetNamedPipeClientProcessId(pipe, &processId))
        return std::string();
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return std::string();
    HANDLE token = nullptr;
    if (::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        name = tokenUserName(token);
        ::CloseHandle(token);
    }
    ::CloseHandle(process);
    return name;
}

// The string form of this process's user, for the descriptor's own ACE.
std::wstring processUserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::wstring();
    std::wstring result;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size == 0 ? 1 : size);
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR text = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
            result = text;
            ::LocalFree(text);
        }
    }
    ::CloseHandle(token);
    return result;
}

// The pipe's security descriptor (see the top of this file); LocalFree it.
PSECURITY_DESCRIPTOR makePipeSecurity()
{
    // 0x12008b: FILE_GENERIC_READ | FILE_WRITE_DATA; 0x12019f:
    // FILE_GENERIC_READ | FILE_GENERIC_WRITE (FILE_CREATE_PIPE_INSTANCE in it).
    std::wstring sddl = L"D:P(D;;GA;;;NU)(A;;0x12008b;;;SY)(A;;0x12008b;;;BA)(A;;0x12008b;;;IU)";
    const std::wstring self = processUserSid();
    if (!self.empty())
        sddl += L"(A;;0x12019f;;;" + self + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        throw boost::system::system_error(lastError(), "the view pipe's security descriptor");
    return descriptor;
}

HANDLE createInstance(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor, bool first,
                      boost::system::error_code& error)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
    attributes.bInheritHandle = FALSE;
    const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    const HANDLE pipe = ::CreateNamedPipeW(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                           kPipeBufferBytes, kPipeBufferBytes, 0, &attributes);
    if (pipe == INVALID_HANDLE_VALUE) {
        error = lastError();
        return nullptr;
    }
    error.clear();
    return pipe;
}

// The other end gone reads as the end of the stream, as on a socket.
boost::system::error_code portable(const boost::system::error_code& error)
{
    if (error.category() == boost::system::system_category() &&
        (error.value() == ERROR_BROKEN_PIPE || error.value() == ERROR_PIPE_NOT_CONNECTED ||
         error.value() == ERROR_NO_DATA))
        return boost::asio::error::eof;
    return error;
}

class PipeStream final : public ViewStream
{
public:
    PipeStream(boost::asio::windows::stream_handle handle, std::string peer)
        : mHandle(std::move(handle)), mPeer(std::move(peer))
    {
    }
    ~PipeStream() override { close(); }

    void asyncReadSome(boost::asio::mutable_buffer buffer, Handler handler) override
    {
        mHandle.async_read_some(buffer, [handler = std::move(handler)](const boost::system::error_code& error,
                                                                       std::size_t bytes) {
            handler(portable(error), bytes);
        });
    }

    void asyncWriteSome(boost::asio::const_buffer buffer, Handler handler) override
    {
        mHandle.async_write_some(buffer, [handler = std::move(handler)](const boost::system::error_code& error,
                                                                        std::size_t bytes) {
            handler(portable(error), bytes);
        });
    }

    void close() override
    {
        if (!mHandle.is_open())
            return;
        // Closed, not disconnected: what the viewer has not read yet (a
        // refusal, say) stays readable for it.
        boost::system::error_code ignored;
        mHandle.close(ignored);
    }

    std::string peerName() const override { return mPeer; }

private:
    boost::asio::windows::stream_handle mHandle;
    std::string mPeer;
};

// What an accept needs after the listener may be gone: the instance being
// waited on and the one made ready for the next viewer.
struct ListenerState {
    ListenerState(boost::asio::io_context& ioService, std::wstring pipeName)
        : io(ioService), name(std::move(pipeName))
    {
    }
    ~ListenerState()
    {
        if (descriptor != nullptr)
            ::LocalFree(descriptor);
    }

    boost::asio::io_context& io;
    std::wstring name;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // The instance that waits for the next viewer.
    std::unique_ptr<boost::asio::windows::stream_handle> waiting;
    bool closed = false;

    // A new instance for `waiting`, unless there is one already.
    boost::system::error_code prepare(bool first)
    {
        if (waiting)
            return {};
        boost::system::error_code error;
        const HANDLE pipe = createInstance(name, descriptor, first, error);
        if (error)
            return error;
        waiting = std::make_unique<boost::asio::windows::stream_handle>(io);
        waiting->assign(pipe, error);
        if (error) {
            ::CloseHandle(pipe);
            waiting.reset();
        }
        return error;
    }
};

class PipeListener final : public ViewListener
{
public:
    PipeListener(boost::asio::io_context& io, const std::string& address)
        : mAddress(address), mState(std::make_shared<ListenerState>(io, wide(address)))
    {
        mState->descriptor = makePipeSecurity();
        if (const boost::system::error_code error = mState->prepare(true))
            throw boost::system::system_error(error, "the view pipe " + address);
    }
    ~PipeListener() override { close(); }

    void asyncAccept(AcceptHandler handler) override
    {
        const std::shared_ptr<ListenerState> state = mState;
        if (state->closed) {
            boost::asio::post(state->io, [handler = std::move(handler)] {
                handler(boost::asio::error::operation_aborted, nullptr);
            });
            return;
        }
        if (const boost::system::error_code error = state->prepare(false)) {
            boost::asio::post(state->io,
                              [handler = std::move(handler), error] { handler(error, nullptr); });
            return;
        }
        // The instance is the operation's from here: a close of the listener
        // closes it through `state`, which aborts the wait.
        boost::asio::windows::overlapped_ptr overlapped(
            state->io, [state, handler](const boost::system::error_code& error, std::size_t) {
                std::unique_ptr<boost::asio::windows::stream_handle> instance = std::move(state->waiting);
                if (error || state->closed || !instance) {
                    if (instance) {
                        boost::system::error_code ignored;
                        instance->close(ignored);
                    }
                    handler(error ? error : boost::asio::error::operation_aborted, nullptr);
                    return;
                }
                std::string peer = clientUserName(instance->native_handle());
                std::unique_ptr<ViewStream> stream = std::make_unique<PipeStream>(std::move(*instance), peer.empty() ? "unknown" : peer);
                // The next viewer finds an instance waiting even before the
                // next accept; failing here, the next accept says why.
                state->prepare(false);
                handler({}, std::move(stream));
            });
        const BOOL connected = ::ConnectNamedPipe(state->waiting->native_handle(), overlapped.get());
        const DWORD result = ::GetLastError();
        if (!connected && result == ERROR_PIPE_CONNECTED) {
            // The viewer came between the instance and this call: no
            // completion will be queued for it.
            overlapped.complete(boost::system::error_code(), 0);
        } else if (!connected && result != ERROR_IO_PENDING) {
            overlapped.complete(boost::system::error_code(static_cast<int>(result), boost::system::system_category()),
                                0);
        } else {
            overlapped.release();
        }
    }

    void close() override
    {
        mState->closed = true;
        if (mState->waiting) {
            boost::system::error_code ignored;
            mState->waiting->close(ignored);
        }
    }

    std::string address() const override { return mAddress; }

private:
    std::string mAddress;
    std::shared_ptr<ListenerState> mState;
};

bool sameName(const std::string& a, const std::string& b)
{
    return ::CompareStringOrdinal(wide(a).c_str(), -1, wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::string defaultAddress()
{
    return "\\\\.\\pipe\\VarnWin32\\view";
}

std::unique_ptr<ViewListener> openViewListener(boost::asio::io_context& io, const std::string& address)
{
    return std::make_unique<PipeListener>(io, address.empty() ? defaultAddress() : address);
}

std::unique_ptr<ViewStream> connectView(boost::asio::io_context& io, const std::string& address,
                                        boost::system::error_code& error)
{
    const std::wstring name = wide(address.empty() ? defaultAddress() : address);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Identification level: the service may name this user, not act as it.
        const HANDLE pipe = ::CreateFileW(name.c_str(), kViewerAccess, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                          nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            boost::asio::windows::stream_handle handle(io);
            handle.assign(pipe, error);
            if (error) {
                ::CloseHandle(pipe);
                return nullptr;
            }
            return std::make_unique<PipeStream>(std::move(handle), "service");
        }
        const DWORD result = ::GetLastError();
        if (result == ERROR_PIPE_BUSY && attempt == 0 && ::WaitNamedPipeW(name.c_str(), kBusyWaitMs))
            continue;
        switch (result) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            error = make_error_code(boost::system::errc::no_such_file_or_directory);
            break;
        case ERROR_PIPE_BUSY:
            error = make_error_code(boost::system::errc::connection_refused);
            break;
        case ERROR_ACCESS_DENIED:
            error = make_error_code(boost::system::errc::permission_denied);
            break;
        default:
            error = boost::system::error_code(static_cast<int>(result), boost::system::system_category());
            break;
        }
        return nullptr;
    }
    error = make_error_code(boost::system::errc::connection_refused);
    return nullptr;
}

bool serviceInstalled(const std::string& address)
{
    if (address.empty() || sameName(address, defaultAddress())) {
        const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr)
            return false;
        const SC_HANDLE service = ::OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
        // A service this user may not even query is still there.
        const bool installed = service != nullptr || ::GetLastError() == ERROR_ACCESS_DENIED;
        if (service != nullptr)
            ::CloseServiceHandle(service);
        ::CloseServiceHandle(manager);
        return installed;
    }
    // Any other pipe was named on the command line (--view-socket): the
    // dialog was asked to view it, whether its service has made it yet or
    // not. Taken for "not installed" while the service starts, the dialog
    // would open the ports itself and keep that service from starting.
    return true;
}

std::string accessDeniedAdvice()
{
    return "Only users logged on at this station may view the VarnWin32 service, not a logon over the "
           "network: log on at the station itself (or through Remote Desktop) and start VarnWin32 again.";
}

}  // namespace kiv::view
