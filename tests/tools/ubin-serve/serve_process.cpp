#include "tests/tools/ubin-serve/serve_process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ubin::test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

// --- the process ----------------------------------------------------------------------------------

ServeProcess::ServeProcess(std::vector<std::string> args)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    args.insert(args.begin(), UBIN_SERVE_EXE);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        // The test may run with signals blocked in some thread; the server starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    reader_ = std::thread([this, fd = pipeFds[0]] { ReadErrors(fd); });

    static const std::regex listening(R"(listening on http://[^ ]*:([0-9]+)/)");
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [&] {
        for (const std::string& line : lines_) {
            std::smatch m;
            if (std::regex_search(line, m, listening)) {
                port_ = std::stoi(m[1].str());
                return true;
            }
        }
        return ended_;
    });
}

ServeProcess::~ServeProcess()
{
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
}

void ServeProcess::ReadErrors(int fd)
{
    std::string pending;
    char chunk[4096];
    while (true) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(chunk, static_cast<std::size_t>(n));
        std::size_t end;
        std::lock_guard<std::mutex> lock(mutex_);
        while ((end = pending.find('\n')) != std::string::npos) {
            lines_.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending.empty()) lines_.push_back(pending);
    ended_ = true;
    changed_.notify_all();
}

std::optional<int> ServeProcess::Wait(std::chrono::milliseconds timeout)
{
    if (status_) return status_;
    const auto deadline = Clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            // Its last lines may still be in the pipe: read up to the end.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_for(lock, std::chrono::seconds(5), [&] { return ended_; });
            return status_;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ServeProcess::Signal(int signal)
{
    if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::optional<int> ServeProcess::StopWith(int signal, std::chrono::milliseconds timeout)
{
    if (pid_ <= 0) return std::nullopt;
    if (!status_) kill(pid_, signal);
    return Wait(timeout);
}

bool ServeProcess::Running()
{
    if (status_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

std::vector<std::string> ServeProcess::Lines()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool ServeProcess::WaitForLines(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
}

// --- the raw connection ---------------------------------------------------------------------------

RawConnection::RawConnection(int port)
{
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

RawConnection::~RawConnection() { Close(); }

void RawConnection::Close()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void RawConnection::ShutdownSending()
{
    if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

bool RawConnection::Send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

bool RawConnection::ReadMore(Clock::time_point deadline)
{
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
    char chunk[8192];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

RawResponse RawConnection::Receive(std::chrono::milliseconds timeout, bool headRequest)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
        if (!ReadMore(deadline)) return {};
    RawResponse r;
    const std::string head = buffer_.substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.size() < 12 || statusLine.compare(0, 5, "HTTP/") != 0) return {};
    const int status = std::stoi(statusLine.substr(9, 3));
    while (lineEnd != std::string::npos) {
        const std::size_t next = head.find("\r\n", lineEnd + 2);
        const std::string line = head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos)
            r.headers[Lower(line.substr(0, colon))] = line.substr(line.find_first_not_of(' ', colon + 1));
        lineEnd = next;
    }
    const std::size_t length =
        !headRequest && r.headers.count("content-length") ? std::stoul(r.headers["content-length"]) : 0;
    while (buffer_.size() < headEnd + 4 + length)
        if (!ReadMore(deadline)) return {};
    r.body = buffer_.substr(headEnd + 4, length);
    buffer_.erase(0, headEnd + 4 + length);
    r.status = status;
    return r;
}

bool RawConnection::ClosedByPeer(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, RemainingMs(deadline)) <= 0) return false;
        char chunk[1024];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return true;
    }
    return true;
}

std::string GetRequest(const std::string& target, const std::string& extraHeaders)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

RawResponse Get(int port, const std::string& target, const std::string& headers)
{
    RawConnection c(port);
    if (!c.Send(GetRequest(target, headers))) return {};
    return c.Receive();
}

std::vector<std::string> SampleArgs(std::vector<std::string> more)
{
    std::vector<std::string> args = {"--data", UBIN_SAMPLE_DIR, "--web", UBIN_WEB_DIR, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace ubin::test
