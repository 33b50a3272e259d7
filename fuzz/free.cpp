// The parser of what `free` prints (the total and the used memory on its "Mem:" line), as
// GetMemUsageRate reads it.
#include "api/exports.h"
#include "fuzz/fuzz.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::Text(data, size);  // the pipe's bytes end in a NUL
    const int rate = MemUsageFromFree(text.c_str());
    if (rate < 0 || rate > 100) __builtin_trap();
}

