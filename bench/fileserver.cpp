#include "fileserver.h"

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <string>

namespace {
bool sendAll(int connection, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

// The file a request's target names under folder, or "" for one outside it or not a path.
std::string fileFor(const std::string& folder, const std::string& target) {
    if (target.empty() || target[0] != '/' || target.find("..") != std::string::npos ||
        target.find_first_of("?#%") != std::string::npos)
        return std::string();
    return folder + target;
}

// Answers one request's target: the file's bytes, or 404. False when the connection failed.
bool answer(int connection, const std::string& folder, const std::string& target) {
    const std::string path = fileFor(folder, target);
    const int file = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (file < 0 || fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (file >= 0)
            ::close(file);
        return sendAll(connection, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
    bool sent =
        sendAll(connection, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(status.st_size) +
                                "\r\n\r\n");
    off_t offset = 0;
    while (sent && offset < status.st_size)
        sent = ::sendfile(connection, file, &offset, std::size_t(status.st_size - offset)) > 0;
    ::close(file);
    return sent;
}
} // namespace

LoopbackFileServer::LoopbackFileServer(const QString& folder, int delayMilliseconds)
    : folder_(QFile::encodeName(folder).toStdString()), delayMilliseconds_(delayMilliseconds) {
    // A client may close a connection before an answer is sent whole (sendfile has no
    // MSG_NOSIGNAL): the write fails, rather than the signal ending the whole bench.
    std::signal(SIGPIPE, SIG_IGN);
    listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listening_ < 0 || ::bind(listening_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listening_, 64) != 0 ||
        ::getsockname(listening_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptConnections(); });
}

LoopbackFileServer::~LoopbackFileServer() {
    stopping_ = true;
    if (listening_ >= 0)
        ::shutdown(listening_, SHUT_RDWR); // wakes the acceptor
    if (acceptor_.joinable())
        acceptor_.join();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (int connection : connections_)
            ::shutdown(connection, SHUT_RDWR);
    }
    for (std::thread& thread : threads_)
        thread.join();
    for (int connection : connections_)
        ::close(connection);
    if (listening_ >= 0)
        ::close(listening_);
}

void LoopbackFileServer::acceptConnections() {
    while (!stopping_) {
        const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0 && (errno == EINTR || errno == ECONNABORTED))
            continue;
        if (connection < 0) // the shutdown that ends the loop, or a listener that failed
            return;
        const int on = 1;
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(connection);
        threads_.emplace_back([this, connection] { serve(connection); });
    }
}

// Reads requests until the client closes: each a request line and headers, no body (GET).
void LoopbackFileServer::serve(int connection) {
    std::string received;
    char buffer[8192];
    for (;;) {
        std::size_t end;
        while ((end = received.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0 || received.size() > 65536)
                return;
            received.append(buffer, std::size_t(n));
        }
        const std::string line = received.substr(0, received.find("\r\n"));
        received.erase(0, end + 4);
        const std::size_t space = line.find(' '), second = line.find(' ', space + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMilliseconds_));
        if (line.compare(0, 4, "GET ") != 0 || second == std::string::npos ||
            !answer(connection, folder_, line.substr(space + 1, second - space - 1)))
            return;
    }
}
