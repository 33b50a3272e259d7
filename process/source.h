// A subsystem gets its bytes from one of several sources (the kernel's sysfs copy, a classic
// device node, the I/O ports...). Each subsystem lists its sources in one table, in the order
// they are tried, and one probe walks every table the same way: the first source whose
// detect and read both succeed answers, and the probe record says which one it was and why
// each one before it did not. Reading this table, and the platform calls its rows make, tells
// what is tried on a given kernel without running anything.
#ifndef QARVEL_PROCESS_SOURCE_H
#define QARVEL_PROCESS_SOURCE_H

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace qarvel {

// One row of a subsystem's source table. `Output` is what the subsystem's decoder takes.
template <class Output>
struct Source {
    const char* name;
    // Cheap and without side effects on the machine: null when the source may be there, else
    // why it is not (written into `why`, at most kWhy bytes with the NUL). Null: always read.
    bool (*detect)(char* why, std::size_t size);
    // Gets the bytes: true on success. On failure it says why in `why`. `answeredAs` starts as
    // the row's name; a source that reaches its bytes in more than one way names the way
    // that answered ("/dev/mem mmap").
    bool (*read)(Output& out, const char*& answeredAs, char* why, std::size_t size);
};

// What the last probe of one subsystem found: which sources it tried, in order, and why
// each one that did not answer failed. Lives in the process state, one per subsystem.
struct ProbeRecord {
    static constexpr int kMostAttempts = 8;
    static constexpr std::size_t kWhy = 96;
    struct Attempt {
        const char* source;  // the row's name
        char why[kWhy];      // empty for the one that answered
    };
    const char* answered = nullptr;  // null when none answered (or no probe ran)
    int count = 0;
    Attempt tried[kMostAttempts] = {};

    void Clear() {
        answered = nullptr;
        count = 0;
    }
    // Starts a new attempt at `source`; its reason is empty until it fails.
    Attempt& Begin(const char* source) {
        Attempt& a = tried[count < kMostAttempts ? count++ : kMostAttempts - 1];
        a.source = source;
        a.why[0] = '\0';
        return a;
    }
};

// Writes "DOING WHAT[: strerror(error)]" into a probe's `why`, cut to fit; false, so that a
// detect or read can return it.
inline bool Refuse(char* why, std::size_t size, const char* doing, const char* what, int error = 0) {
    if (size == 0) return false;
    if (error)
        std::snprintf(why, size, "%s %s: %s", doing, what, std::strerror(error));
    else
        std::snprintf(why, size, "%s %s", doing, what);
    return false;
}

// Tries the rows of `table` in order, from `first` (a source that answered earlier in the
// process can be put first: a machine does not change its drivers while we run). The row
// that answered, or null when none did; `record` is rewritten either way.
template <class Output, std::size_t N>
const Source<Output>* Probe(const Source<Output> (&table)[N], Output& out, ProbeRecord& record,
                            std::size_t first = 0) {
    record.Clear();
    for (std::size_t k = 0; k < N; ++k) {
        const Source<Output>& row = table[(first + k) % N];
        ProbeRecord::Attempt& attempt = record.Begin(row.name);
        if (row.detect && !row.detect(attempt.why, sizeof attempt.why)) continue;
        const char* answeredAs = row.name;
        if (row.read(out, answeredAs, attempt.why, sizeof attempt.why)) {
            attempt.why[0] = '\0';
            record.answered = answeredAs;
            return &row;
        }
        if (!attempt.why[0]) Refuse(attempt.why, sizeof attempt.why, "nothing read from", row.name);
    }
    return nullptr;
}

}  // namespace qarvel

#endif
