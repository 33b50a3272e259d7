// release: the library's teardown. The next call that needs a reader builds a new one.
#include "api/exports.h"
#include "process/state.h"

extern "C" int release(void) {
    // Waits for the calls that use a reader; none starts until the readers are gone.
    return qarvel::ResetProcessState(qarvel::Reset::Readers);
}
