#pragma once

// A small HTTP/1.1 file server on 127.0.0.1 for the benchmark's HTTP rows: a connection a thread,
// kept open from request to request, each answer's header sent and its body passed from the page
// cache with sendfile, as a web server or object store answers. GET of a regular file under its
// folder is 200, anything else 404. A delay holds each answer back, as a server a round trip
// away does. Not a server for anything but the benchmark's own files.

#include <QString>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackFileServer {
public:
    // Listens on a free port of 127.0.0.1; port() is 0 when it could not.
    explicit LoopbackFileServer(const QString& folder, int delayMilliseconds = 0);
    // Stops listening, ends every connection and waits for their threads.
    ~LoopbackFileServer();
    LoopbackFileServer(const LoopbackFileServer&) = delete;
    LoopbackFileServer& operator=(const LoopbackFileServer&) = delete;

    int port() const { return port_; }

private:
    void acceptConnections();
    void serve(int connection);

    std::string folder_;
    int delayMilliseconds_ = 0;
    int listening_ = -1, port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_; // guards connections_ and threads_
    std::vector<int> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};
