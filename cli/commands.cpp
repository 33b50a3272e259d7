// The commands of the command line: setting a threshold, driving the watchdog, polling the
// hwmon chips.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/report.h"

namespace cli {

namespace {

bool Integer(const char* text, long low, long high, int& out) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool Real(const char* text, double& out) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0') return false;
    out = value;
    return true;
}

std::string Call(const char* name, const std::string& arguments) { return std::string(name) + "(" + arguments + ")"; }

// A function the command needs, or a note that the library lacks it.
template <typename F>
F* Need(const Library& library, Printer& out, const char* name) {
    auto* f = library.function<F>(name);
    if (!f) out.missing(name);
    return f;
}

// threshold ENTITY TYPE WHICH VALUE: sets the threshold, then reads the entity's thresholds
// back through a fresh facade (the library's own copy is the one taken at discovery).
int Threshold(const Library& library, Printer& out, int entity, int type, int which, double value) {
    auto* set = Need<int(int, int, int, double)>(library, out, "SetThresholdInfo");
    auto* get = Need<int(int, int, LPVOID)>(library, out, "GetThresholdInfo");
    auto* release = Need<int()>(library, out, "release");
    if (!set || !get || !release) return 1;
    out.section("threshold");
    char value_text[32];
    std::snprintf(value_text, sizeof value_text, "%.2f", value);
    const std::string sensors = std::to_string(entity) + "," + std::to_string(type);
    int result = set(entity, type, which, value);
    out.result(Call("SetThresholdInfo", sensors + "," + std::to_string(which) + "," + value_text), result);
    out.result("release()", release());
    SensorThresholdInformation record;
    std::memset(&record, 0, sizeof record);
    int read = get(entity, type, &record);
    out.result(Call("GetThresholdInfo", sensors), read);
    if (read == 0) {
        out.field("quantity", static_cast<long>(record.quantity));
        for (int i = 0; i < record.quantity && i < 64; ++i) {
            out.prefix("SensorThreshold[" + std::to_string(i) + "].");
            print(out, record.SensorThreshold[i]);
        }
        out.prefix("");
    }
    return result == 0 && read == 0 ? 0 : 1;
}

int WatchdogShow(const Library& library, Printer& out) {
    auto* get = Need<int(unsigned char*, int*, int*)>(library, out, "GetWatchDogTimer");
    if (!get) return 1;
    unsigned char action = 0;
    int timeout = 0, present = 0;
    int result = get(&action, &timeout, &present);
    out.result("GetWatchDogTimer()", result);
    if (result == 0) print_watchdog(out, action, timeout, present);
    return result == 0 ? 0 : 1;
}

int WatchdogSimple(const Library& library, Printer& out, const char* name) {
    auto* f = Need<int()>(library, out, name);
    if (!f) return 1;
    int result = f();
    out.result(Call(name, ""), result);
    return result == 0 ? 0 : 1;
}

int WatchdogArm(const Library& library, Printer& out, int action, int timeout) {
    auto* set = Need<int(int, int)>(library, out, "SetWatchDogTimer");
    if (!set) return 1;
    int result = set(action, timeout);
    out.result(Call("SetWatchDogTimer", std::to_string(action) + "," + std::to_string(timeout)), result);
    return result == 0 ? 0 : 1;
}

int Misunderstood(const std::string& what) {
    std::fprintf(stderr, "qarvel: %s (qarvel --help lists the commands)\n", what.c_str());
    return 2;
}

// One command as read from the command line.
struct Command {
    enum Kind { SetThreshold, WatchdogArm, WatchdogReset, WatchdogStop, WatchdogShow, Hwmon, Sel, Pause } kind;
    int entity = 0, type = 0, which = 0, seconds = 0;
    double value = 0;
    int action = 0, timeout = 0;
};

// Reads the command at words[i]; the number of words it took, or 0 when it cannot be read.
int Parse(int count, char** words, int i, Command& c, std::string& error) {
    const std::string command = words[i];
    const int left = count - i - 1;
    if (command == "threshold") {
        c.kind = Command::SetThreshold;
        if (left < 4 || !Integer(words[i + 1], 0, 255, c.entity) || !Integer(words[i + 2], 0, 255, c.type) ||
            !Integer(words[i + 3], 0, 5, c.which) || !Real(words[i + 4], c.value))
            return error = "expected: threshold ENTITY TYPE WHICH VALUE", 0;
        return 5;
    }
    // One poll of the hwmon chips; repeated within one process, the later polls are what an
    // agent polling on sees (the chips listed once, every value read again).
    if (command == "hwmon") return c.kind = Command::Hwmon, 1;
    // The event log's entries; repeated within one process, those logged since the last.
    if (command == "sel") return c.kind = Command::Sel, 1;
    if (command == "pause") {
        c.kind = Command::Pause;
        if (left < 1 || !Integer(words[i + 1], 0, 3600, c.seconds)) return error = "expected: pause SECONDS", 0;
        return 2;
    }
    if (command != "watchdog") return error = "unknown command " + command, 0;
    const std::string what = left >= 1 ? words[i + 1] : "";
    if (what == "arm") {
        c.kind = Command::WatchdogArm;
        if (left < 3 || !Integer(words[i + 2], 0, 255, c.action) ||
            !Integer(words[i + 3], -2147483647L - 1, 2147483647L, c.timeout))
            return error = "expected: watchdog arm ACTION MILLISECONDS", 0;
        return 4;
    }
    if (what == "reset") return c.kind = Command::WatchdogReset, 2;
    if (what == "stop") return c.kind = Command::WatchdogStop, 2;
    if (what == "show") return c.kind = Command::WatchdogShow, 2;
    return error = "expected: watchdog arm|reset|stop|show", 0;
}

}  // namespace

int run_commands(const Library& library, Printer& out, int count, char** words) {
    // Every command is read before the first one runs.
    std::vector<Command> commands;
    for (int i = 0; i < count;) {
        Command c{};
        std::string error;
        int used = Parse(count, words, i, c, error);
        if (used == 0) return Misunderstood(error);
        commands.push_back(c);
        i += used;
    }
    int status = 0;
    SelCursor sel{};  // where the last `sel` stopped
    for (const Command& c : commands) {
        int result = 0;
        if (c.kind == Command::SetThreshold) {
            result = Threshold(library, out, c.entity, c.type, c.which, c.value);
        } else if (c.kind == Command::Hwmon) {
            result = poll_hwmon(library, out);
        } else if (c.kind == Command::Sel) {
            result = poll_sel(library, out, sel);
            if (result != 0) std::fprintf(stderr, "qarvel: the event log was not read (%d)\n", result);
        } else if (c.kind == Command::Pause) {
            // What came before is out while it waits: a reader may act on it.
            std::fflush(nullptr);
            ::sleep(static_cast<unsigned>(c.seconds));
        } else {
            out.section("watchdog");
            switch (c.kind) {
                case Command::WatchdogArm: result = WatchdogArm(library, out, c.action, c.timeout); break;
                case Command::WatchdogReset: result = WatchdogSimple(library, out, "ResetWatchDogTimer"); break;
                case Command::WatchdogStop: result = WatchdogSimple(library, out, "StopWatchDogTimer"); break;
                default: result = WatchdogShow(library, out); break;
            }
        }
        if (result != 0) status = 1;
    }
    return status;
}

}  // namespace cli
