#include "exporter/http.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace exporter {

namespace {

// No request needs more than this: the request line of /metrics and a few headers. Beyond it
// libmicrohttpd answers an error without reading further.
constexpr unsigned kConnectionMemory = 16 * 1024;
constexpr unsigned kConnections = 64;
constexpr unsigned kIdleSeconds = 30;

const char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kIndex[] =
    "qarvel-exporter: the machine's hardware inventory and health for Prometheus.\n"
    "Metrics: /metrics\n";

struct Server {
    Collection& collection;
};

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& body, const char* type,
                 bool allow = false) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

// Every request is answered at its first call, before any body: a body is never read.
// libmicrohttpd then closes a connection whose body was left unread.
MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t*, void**) {
    auto* server = static_cast<Server*>(cls);
    const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
    if (!get && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET and HEAD\n", "text/plain", true);
    if (std::strcmp(url, "/metrics") == 0) {
        std::shared_ptr<const std::string> text = server->collection.Scrape();
        return Queue(connection, MHD_HTTP_OK, *text, kContentType);
    }
    if (std::strcmp(url, "/") == 0) return Queue(connection, MHD_HTTP_OK, kIndex, "text/plain");
    return Queue(connection, MHD_HTTP_NOT_FOUND, "not found: the metrics are at /metrics\n", "text/plain");
}

// "ADDR:PORT" or "[ADDR6]:PORT" into a socket address.
bool ParseListen(const std::string& listen, sockaddr_storage& address, bool& ipv6) {
    std::memset(&address, 0, sizeof address);
    std::size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon + 1 >= listen.size()) return false;
    std::string host = listen.substr(0, colon);
    char* end = nullptr;
    long port = std::strtol(listen.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 0 || port > 65535) return false;
    ipv6 = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a->sin6_addr) == 1;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, host.c_str(), &a->sin_addr) == 1;
}

}  // namespace

int Serve(Collection& collection, const Library& library, const std::string& listen, std::FILE* announce) {
    sockaddr_storage address;
    bool ipv6 = false;
    if (!ParseListen(listen, address, ipv6)) {
        std::fprintf(stderr, "qarvel-exporter: --listen %s: expected ADDR:PORT or [ADDR6]:PORT\n", listen.c_str());
        return 2;
    }
    // The signals are taken by this thread alone: block them before any other thread starts.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Server server{collection};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_ERROR_LOG;
    if (ipv6) flags |= MHD_USE_IPv6;
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Answer, &server, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
        MHD_OPTION_CONNECTION_LIMIT, kConnections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(kConnectionMemory), MHD_OPTION_END);
    if (!daemon) {
        std::fprintf(stderr, "qarvel-exporter: cannot listen on %s\n", listen.c_str());
        return 1;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    std::string host = listen.substr(0, listen.rfind(':'));
    std::fprintf(announce, "listening on %s:%u\n", host.c_str(), info ? info->port : 0);
    std::fflush(announce);

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) continue;
        if (signal != SIGHUP) break;
        if (library.release) library.release();
    }
    MHD_stop_daemon(daemon);
    return 0;
}

}  // namespace exporter
