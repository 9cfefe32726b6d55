#pragma once
// ubin-serve as a child process of a test: started on a free loopback port, its standard error
// collected line by line, stopped by a signal; and a plain socket to send it any bytes at all.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace ubin::test {

class ServeProcess {
public:
    // Starts ubin-serve with the arguments (after the program name) and waits for the line
    // that names its port. `port` stays 0 when it never came (the process ended first).
    explicit ServeProcess(std::vector<std::string> args);
    ~ServeProcess(); // SIGKILL if still running
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    int port() const { return port_; }
    // Sends a signal; then waits up to `timeout` for the end. The exit status (-1 when it
    // ended by a signal), or none when it did not end in time.
    std::optional<int> StopWith(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(15));
    void Signal(int signal);
    // Waits for the end without sending anything.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    bool Running();

    // The lines written to standard error so far.
    std::vector<std::string> Lines();
    // Waits until at least `count` lines have come.
    bool WaitForLines(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    void ReadErrors(int fd);

    pid_t pid_ = -1;
    int port_ = 0;
    std::optional<int> status_;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

// A response as it came over a socket.
struct RawResponse {
    int status = 0; // 0: no (complete) response
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    // A header's value; empty when the response has none.
    std::string Header(const std::string& lowerCaseName) const
    {
        const auto it = headers.find(lowerCaseName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A TCP connection to 127.0.0.1 that sends whatever it is given.
class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool Send(const std::string& bytes);
    // Reads one response (head, then Content-Length bytes of body, none for a HEAD request);
    // status 0 when the connection closed or nothing came within the timeout.
    RawResponse Receive(std::chrono::milliseconds timeout = std::chrono::seconds(10), bool headRequest = false);
    // Whether the server closed the connection (end of stream within the timeout).
    bool ClosedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends the end of the stream and goes on reading (a half-close).
    void ShutdownSending();
    void Close();

private:
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string buffer_;
};

// "GET <target> HTTP/1.1" with a Host header and the extra header lines.
std::string GetRequest(const std::string& target, const std::string& extraHeaders = "");

// One GET on a connection of its own; an empty response when it could not be sent.
RawResponse Get(int port, const std::string& target, const std::string& headers = "");

// ubin-serve's arguments over the sample directory on a free loopback port, then `more`.
std::vector<std::string> SampleArgs(std::vector<std::string> more = {});

} // namespace ubin::test
