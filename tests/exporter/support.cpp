#include "tests/exporter/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace exporter_test {

TempDir::TempDir() {
    char pattern[] = "/tmp/qarvel-exporter-test-XXXXXX";
    if (char* made = ::mkdtemp(pattern)) path_ = made;
}

TempDir::~TempDir() {
    if (!path_.empty()) RunCommand("rm -rf '" + path_ + "'");
}

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& error_log) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        int err = ::open(error_log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    out_ = pipe_fds[0];
}

Process::~Process() {
    Stop();
    if (out_ >= 0) ::close(out_);
}

std::string Process::ReadLine(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        std::size_t newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return "";
        pollfd p = {out_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[512];
        ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0) return "";
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

void Process::Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

int Process::Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {  // five seconds, then it is killed
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

long Process::ResidentKiB() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

int StartExporter(Process*& process, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::string& error_log) {
    std::vector<std::string> argv = {QARVEL_EXPORTER, "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process = new Process(argv, environment, error_log);
    std::string line = process->ReadLine(20);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) return 0;
    return std::atoi(line.c_str() + prefix.size());
}

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

HttpConnection::HttpConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
    timeval wait = {30, 0};  // a test never hangs on a silent server
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

HttpConnection::~HttpConnection() {
    if (fd_ >= 0) ::close(fd_);
}

HttpAnswer HttpConnection::Exchange(const std::string& request) {
    HttpAnswer answer;
    if (fd_ < 0) return answer;
    // A server that refuses may close before the whole request is sent: the answer it gave
    // is still read.
    for (std::size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    auto fill = [this]() {
        char chunk[16384];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffered_.append(chunk, static_cast<std::size_t>(n));
        return true;
    };
    std::size_t end;
    while ((end = buffered_.find("\r\n\r\n")) == std::string::npos)
        if (!fill()) return answer;
    std::string head = buffered_.substr(0, end);
    buffered_.erase(0, end + 4);
    std::sscanf(head.c_str(), "HTTP/1.%*d %d", &answer.status);
    long length = -1;
    bool chunked = false;
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (line.rfind("content-length:", 0) == 0) length = std::strtol(line.c_str() + 15, nullptr, 10);
        if (line.rfind("connection: close", 0) == 0) answer.keep_alive = false;
        if (line.rfind("transfer-encoding: chunked", 0) == 0) chunked = true;
    }
    if (chunked) {  // other servers' large answers (Prometheus's, node_exporter's)
        for (;;) {
            std::size_t eol;
            while ((eol = buffered_.find("\r\n")) == std::string::npos)
                if (!fill()) return answer;
            const std::size_t size = std::strtoul(buffered_.c_str(), nullptr, 16);
            while (buffered_.size() < eol + 2 + size + 2)
                if (!fill()) return answer;
            answer.body += buffered_.substr(eol + 2, size);
            buffered_.erase(0, eol + 2 + size + 2);
            if (size == 0) break;
        }
        answer.complete = true;
        return answer;
    }
    if (request.rfind("HEAD ", 0) == 0) length = 0;
    while (length >= 0 && buffered_.size() < static_cast<std::size_t>(length))
        if (!fill()) break;
    const std::size_t take = length >= 0 ? std::min(buffered_.size(), static_cast<std::size_t>(length)) : 0;
    answer.body = buffered_.substr(0, take);
    buffered_.erase(0, take);
    answer.complete = length >= 0 && answer.body.size() == static_cast<std::size_t>(length);
    return answer;
}

HttpAnswer HttpConnection::Get(const std::string& path) {
    return Exchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

std::map<std::string, double> ParseExposition(const std::string& text) {
    std::map<std::string, double> series;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t space = line.rfind(' ');
        if (space == std::string::npos) continue;
        series[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
    }
    return series;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountRequests(const std::string& transcript, const char* netfn_command) {
    std::istringstream lines(ReadFile(transcript));
    std::string line;
    int count = 0;
    while (std::getline(lines, line))
        if (strncasecmp(line.c_str(), netfn_command, std::strlen(netfn_command)) == 0) ++count;
    return count;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        if (output) output->append(chunk, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace exporter_test
