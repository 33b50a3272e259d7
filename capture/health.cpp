// The kernel's health files: each hwmon chip's name, device link and the attributes the
// library reads, and the EDAC controllers with their DIMM or chip-select row directories.
// The library asks first, so the MANIFEST names the source that answered it.
#include <cerrno>
#include <cstring>
#include <memory>

#include "api/health_types.h"
#include "capture/capture.h"
#include "capture/sysmirror.h"
#include "health/hwmon.h"
#include "platform/platform.h"
#include "process/state.h"

namespace capture {

namespace {

// A chip directory's name file and every input attribute the library reads in it.
bool MirrorAttributes(SysMirror& sys, const std::string& dir) {
    std::vector<std::string> names;
    if (!platform::list_directory(dir.c_str(), names)) return false;
    bool named = false;
    for (const std::string& name : names) {
        qarvel::HwmonAttribute attribute;
        if (name == "name") named = true;
        if (name == "name" || qarvel::ParseHwmonAttribute(name, attribute)) sys.file(dir + "/" + name);
    }
    return named;
}

void CaptureHwmon(Capture& c, SysMirror& sys) {
    auto info = std::make_unique<HWMON_INFO>();
    const bool found = qarvel::FillHwmon(info.get()) == 0;
    const char* source = qarvel::State().sources[SOURCE_HWMON].answered;
    if (found && source) c.manifest.source("hwmon", source);
    std::vector<std::string> chips;
    if (!platform::list_directory("/sys/class/hwmon", chips)) return;
    for (const std::string& chip : chips) {
        const std::string dir = sys.follow("/sys/class/hwmon/" + chip);
        sys.follow(dir + "/device");
        // Drivers of the older interface keep everything on the device.
        if (!MirrorAttributes(sys, dir)) MirrorAttributes(sys, sys.follow(dir + "/device"));
    }
}

// The files of one EDAC directory (a controller, a DIMM, a row); the write-only counter
// reset is left alone.
void MirrorFiles(SysMirror& sys, const std::string& dir, std::vector<std::string>& subdirectories) {
    std::vector<std::string> names;
    if (!platform::list_directory(dir.c_str(), names)) return;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        std::string target;
        if (platform::read_link(path.c_str(), target) || name.find("reset") != std::string::npos) continue;
        if (platform::directory_exists(path.c_str()))
            subdirectories.push_back(path);
        else
            sys.file(path);
    }
}

void CaptureEdac(Capture& c, SysMirror& sys) {
    auto info = std::make_unique<EDAC_INFO>();
    const bool found = qarvel::FillEdac(info.get()) == 0;
    const char* source = qarvel::State().sources[SOURCE_EDAC].answered;
    if (found && source) c.manifest.source("edac", source);
    std::vector<std::string> controllers, rows;
    MirrorFiles(sys, "/sys/devices/system/edac/mc", controllers);
    for (const std::string& mc : controllers) {
        if (mc.compare(mc.rfind('/') + 1, 2, "mc") != 0) continue;
        MirrorFiles(sys, mc, rows);
    }
    std::vector<std::string> none;
    for (const std::string& row : rows) {
        const std::string name = row.substr(row.rfind('/') + 1);
        if (name.compare(0, 4, "dimm") == 0 || name.compare(0, 4, "rank") == 0 || name.compare(0, 5, "csrow") == 0)
            MirrorFiles(sys, row, none);
    }
}

}  // namespace

void capture_health(Capture& c) {
    SysMirror sys(c);
    CaptureHwmon(c, sys);
    CaptureEdac(c, sys);
}

}  // namespace capture
