// Running qarvel-exporter and Prometheus as separate processes, and talking HTTP to them over
// the loopback, for the exporter's tests.
#ifndef QARVEL_TESTS_EXPORTER_SUPPORT_H
#define QARVEL_TESTS_EXPORTER_SUPPORT_H

#include <map>
#include <string>
#include <vector>

namespace exporter_test {

// A directory of its own, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A program started with fork and exec, its standard output on a pipe, its standard error
// in a file; stopped by its process ID (SIGTERM, then SIGKILL) when the object goes.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& error_log);
    ~Process();
    int pid() const { return pid_; }
    // The next line of standard output, waiting at most `seconds`; empty when none came.
    std::string ReadLine(double seconds);
    // Sends a signal; Stop waits for the end and returns the exit status (-1 if killed).
    void Signal(int signal) const;
    int Stop();
    // Resident memory in KiB (VmRSS), 0 when unknown.
    long ResidentKiB() const;

private:
    int pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// Starts qarvel-exporter on a free loopback port with the given arguments added; its port.
int StartExporter(Process*& process, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::string& error_log);

// A loopback port nothing listens on at the time of the call.
int FreePort();

struct HttpAnswer {
    int status = 0;       // 0: no answer (connection closed or reset)
    bool keep_alive = true;
    std::string body;
    bool complete = false;  // the body is as long as Content-Length said
};

// One HTTP/1.1 connection to 127.0.0.1:port, several requests in turn.
class HttpConnection {
public:
    explicit HttpConnection(int port);
    ~HttpConnection();
    bool connected() const { return fd_ >= 0; }
    // Sends the request text as given and reads one answer.
    HttpAnswer Exchange(const std::string& request);
    HttpAnswer Get(const std::string& path);

private:
    int fd_ = -1;
    std::string buffered_;
};

// A whole exposition as series ("name{labels}" as written) and values.
std::map<std::string, double> ParseExposition(const std::string& text);

// The text of a file, or empty.
std::string ReadFile(const std::string& path);
// Lines of the BMC transcript that are the given request (network function and command,
// "0a 22"): how often the library sent it.
int CountRequests(const std::string& transcript, const char* netfn_command);

// Runs a command through the shell; its exit status and standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace exporter_test

#endif
