// The names of the files under proc/ of a capture directory ("stat", "stat@1.5": a snapshot
// from 1.5 s on), as the loader reads them: any name a directory entry can have, and the
// path of subdirectories before it.
#include "fuzz/fuzz.h"
#include "sim/loader.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    std::string target;
    std::uint64_t from = 0;
    sim::proc_snapshot(fuzz::Text(data, size), target, from);
}
