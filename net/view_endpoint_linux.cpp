// Linux: the view channel is a Unix stream socket. Under systemd the socket
// unit makes it (mode and group decide who may view) and hands it over as
// descriptor 3 (LISTEN_PID, LISTEN_FDS); outside it the service makes the
// socket at a path itself and removes it when the listener closes.
#include "net/view_endpoint.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/system_error.hpp>

namespace kiv::view {

namespace {

using Protocol = boost::asio::local::stream_protocol;

constexpr int kFirstPassedDescriptor = 3;  // SD_LISTEN_FDS_START

boost::system::error_code lastError()
{
    return boost::system::error_code(errno, boost::system::system_category());
}

class UnixViewStream : public ViewStream
{
public:
    explicit UnixViewStream(Protocol::socket socket) : mSocket(std::move(socket))
    {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(mSocket.native_handle(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0)
            mPeerName = "uid " + std::to_string(credentials.uid);
    }

    void asyncReadSome(boost::asio::mutable_buffer buffer, Handler handler) override
    {
        mSocket.async_read_some(buffer, std::move(handler));
    }

    void asyncWriteSome(boost::asio::const_buffer buffer, Handler handler) override
    {
        mSocket.async_write_some(buffer, std::move(handler));
    }

    void close() override
    {
        boost::system::error_code ignored;
        mSocket.shutdown(Protocol::socket::shutdown_both, ignored);
        mSocket.close(ignored);
    }

    std::string peerName() const override { return mPeerName; }

private:
    Protocol::socket mSocket;
    std::string mPeerName = "unknown";
};

class UnixViewListener : public ViewListener
{
public:
    // `path` empty: the socket is not ours to remove (systemd's).
    UnixViewListener(Protocol::acceptor acceptor, std::string address, std::string path)
        : mAcceptor(std::move(acceptor)), mAddress(std::move(address)), mPath(std::move(path))
    {
    }

    ~UnixViewListener() override { close(); }

    void asyncAccept(AcceptHandler handler) override
    {
        mAcceptor.async_accept(
            [handler = std::move(handler)](const boost::system::error_code& error, Protocol::socket socket) {
                if (error) {
                    handler(error, nullptr);
                    return;
                }
                handler(error, std::make_unique<UnixViewStream>(std::move(socket)));
            });
    }

    void close() override
    {
        boost::system::error_code ignored;
        if (mAcceptor.is_open())
            mAcceptor.close(ignored);
        if (!mPath.empty()) {
            ::unlink(mPath.c_str());
            mPath.clear();
        }
    }

    std::string address() const override { return mAddress; }

private:
    Protocol::acceptor mAcceptor;
    std::string mAddress;
    std::string mPath;
};

// The descriptor systemd passed (sd_listen_fds' protocol), -1 when none.
// The variables are unset once read, so that no child takes them for its own.
int takePassedSocket()
{
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    int descriptor = -1;
    if (pid != nullptr && fds != nullptr) {
        char* end = nullptr;
        const long listenPid = std::strtol(pid, &end, 10);
        const bool pidOk = end != pid && *end == '\0' && listenPid == static_cast<long>(::getpid());
        const long count = std::strtol(fds, &end, 10);
        const bool countOk = end != fds && *end == '\0' && count >= 1;
        if (pidOk && countOk)
            descriptor = kFirstPassedDescriptor;
    }
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (descriptor < 0)
        return -1;
    int type = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM)
        return -1;
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return descriptor;
}

void makeParentDirectory(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    const std::string parent = path.substr(0, slash);
    struct stat info {};
    if (::stat(parent.c_str(), &info) == 0)
        return;
    makeParentDirectory(parent);
    if (::mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST)
        throw boost::system::system_error(lastError(), "mkdir " + parent);
}

// A socket file left by an earlier run goes; anything else at the path stays.
void removeStaleSocket(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (!S_ISSOCK(info.st_mode))
        throw boost::system::system_error(boost::system::errc::make_error_code(boost::system::errc::file_exists),
                                          path + " is there and is not a socket");
    if (::unlink(path.c_str()) != 0)
        throw boost::system::system_error(lastError(), "unlink " + path);
}

}  // namespace

std::string defaultAddress()
{
    return "/run/varnwin32/view";
}

std::unique_ptr<ViewListener> openViewListener(boost::asio::io_context& io, const std::string& address)
{
    if (address.empty()) {
        const int descriptor = takePassedSocket();
        if (descriptor < 0)
            return nullptr;
        Protocol::acceptor acceptor(io);
        acceptor.assign(Protocol(), descriptor);
        std::string name = "the socket passed by systemd";
        Protocol::endpoint local = acceptor.local_endpoint();
        if (!local.path().empty())
            name = local.path();
        return std::make_unique<UnixViewListener>(std::move(acceptor), name, std::string());
    }
    makeParentDirectory(address);
    removeStaleSocket(address);
    Protocol::acceptor acceptor(io);
    acceptor.open(Protocol());
    acceptor.bind(Protocol::endpoint(address));
    acceptor.listen();
    return std::make_unique<UnixViewListener>(std::move(acceptor), address, address);
}

std::unique_ptr<ViewStream> connectView(boost::asio::io_context& io, const std::string& address,
                                        boost::system::error_code& error)
{
    error.clear();
    try {
        Protocol::socket socket(io);
        socket.connect(Protocol::endpoint(address), error);
        if (error) {
            boost::system::error_code ignored;
            socket.close(ignored);
            return nullptr;
        }
        return std::make_unique<UnixViewStream>(std::move(socket));
    } catch (const boost::system::system_error& failure) {
        // A path too long for a socket address, no descriptor left.
        error = failure.code();
        return nullptr;
    }
}

bool serviceInstalled(const std::string& address)
{
    struct stat info {};
    return ::stat(address.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::string accessDeniedAdvice()
{
    std::string user = "USER";
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr)
        user = entry->pw_name;
    return "You may not view the VarnWin32 service: ask an administrator to add you to the group varnwin32 "
           "(adduser " +
           user + " varnwin32), then log on again.";
}

}  // namespace kiv::view
