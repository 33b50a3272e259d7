// release: the library's teardown. The next call that needs a reader builds a new one.
#include "IPMI/IPMIsupport.h"
#include "SmBios/SmBios.h"
#include "api/exports.h"

extern "C" int release(void) {
    delete bios;
    bios = nullptr;
    delete pIPMI;
    pIPMI = nullptr;
    // The sensor tables went with the facade: the next one must discover its own.
    IPMIGetSensorInfoOK = 0;
    return 0;
}
