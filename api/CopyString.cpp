#include <cstring>

#include "api/exports.h"

void CopyString(char* target, const char* source, unsigned int TargetBufLen) {
    if (TargetBufLen == 0) return;
    std::size_t n = std::strlen(source);
    if (n > TargetBufLen - 1) n = TargetBufLen - 1;
    std::memcpy(target, source, n);
}
