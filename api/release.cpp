// release: the library's teardown. The next call that needs a reader builds a new one.
#include "SmBios/SmBios.h"
#include "api/exports.h"

extern "C" int release(void) {
    delete bios;
    bios = nullptr;
    // The IPMI facade is released here too once it exists.
    return 0;
}
