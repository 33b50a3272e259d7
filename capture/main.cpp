// qarvel-capture DIR: writes a capture directory of this machine (qarvel capture runs it).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "capture/capture.h"

#ifndef QARVEL_VERSION
#define QARVEL_VERSION "unknown"
#endif

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: qarvel-capture DIR (a new directory)\n");
        return 2;
    }
    const std::string dir = argv[1];
    // The directories above DIR are the caller's to choose, and made when missing; DIR itself
    // is made by the capture (capture/capture.h says why).
    std::error_code ec;
    fs::path named(dir);
    if (named.filename().empty()) named = named.parent_path();  // "DIR/"
    const fs::path parent = named.parent_path();
    if (!parent.empty() && !fs::exists(parent, ec) && !fs::create_directories(parent, ec) && ec) {
        std::fprintf(stderr, "qarvel capture: cannot create %s: %s\n", parent.c_str(), ec.message().c_str());
        return 1;
    }
    capture::Output out(dir);
    std::string error;
    if (!out.ready(error)) {
        std::fprintf(stderr, "qarvel capture: %s\n", error.c_str());
        return 1;
    }
    char now[32];
    std::time_t t = std::time(nullptr);
    std::strftime(now, sizeof now, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));

    capture::Manifest manifest;
    capture::Capture c{out, manifest};
    for (auto part : {capture::capture_load, capture::capture_kernel, capture::capture_smbios, capture::capture_pci, capture::capture_disks,
                      capture::capture_ipmi, capture::capture_health})
        part(c);
    if (!out.write("MANIFEST", manifest.text(QARVEL_VERSION, now), error)) {
        std::fprintf(stderr, "qarvel capture: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [part, reason] : manifest.missing())
        std::fprintf(stderr, "qarvel capture: not captured: %s: %s\n", part.c_str(), reason.c_str());
    std::printf("%s: captured%s\n", dir.c_str(), manifest.missing().empty() ? "" : " (MANIFEST lists what is missing)");
    return 0;
}
