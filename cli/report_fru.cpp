// FRU device 0: the board, chassis and product texts, read through the library's exported
// FRU reader as a C++ caller holding one would (its members found by their C++ names).
#include <cstring>
#include <new>

#include "IPMI/FRU.h"
#include "cli/report.h"

namespace cli {

namespace {

// A text getter of the reader, with the field name it is reported under.
struct Text {
    const char* field;
    const char* symbol;  // Itanium C++ ABI name of int FRU::Get...(char*)
};

constexpr Text kTexts[] = {
    {"board.Manufacturer", "_ZN3FRU20GetBoardManufacturerEPc"},
    {"board.ProductName", "_ZN3FRU19GetBoardProductNameEPc"},
    {"board.SerialNumber", "_ZN3FRU20GetBoardSerialNumberEPc"},
    {"board.PartNumber", "_ZN3FRU18GetBoardPartNumberEPc"},
    {"chassis.PartNumber", "_ZN3FRU20GetChassisPartNumberEPc"},
    {"chassis.SerialNumber", "_ZN3FRU22GetChassisSerialNumberEPc"},
    {"product.ManufacturerName", "_ZN3FRU26GetProductManufacturerNameEPc"},
    {"product.ProductName", "_ZN3FRU14GetProductNameEPc"},
    {"product.PartName", "_ZN3FRU18GetProductPartNameEPc"},
    {"product.Version", "_ZN3FRU17GetProductVersionEPc"},
    {"product.SerialNumber", "_ZN3FRU22GetProductSerialNumberEPc"},
    {"product.AssetTag", "_ZN3FRU18GetProductAssetTagEPc"},
};

// Members take the object as their first argument (Itanium C++ ABI).
using Constructor = void(void*);
using Reader = int(void*);
using Getter = int(void*, char*);

}  // namespace

void report_fru(const Library& library, Printer& out) {
    out.section("FRU");
    auto* construct = library.function<Constructor>("_ZN3FRUC1Ev");
    auto* destroy = library.function<Constructor>("_ZN3FRUD1Ev");
    auto* read = library.function<Reader>("_ZN3FRU10GetFRUInfoEv");
    if (!construct || !destroy || !read) {
        out.missing(!construct ? "FRU::FRU()" : !destroy ? "FRU::~FRU()" : "FRU::GetFRUInfo()");
        return;
    }
    alignas(FRU) unsigned char storage[sizeof(FRU)];
    construct(storage);
    int result = read(storage);
    out.result("FRU::GetFRUInfo()", result);
    for (const Text& text : kTexts) {
        if (result != 0) break;
        auto* get = library.function<Getter>(text.symbol);
        if (!get) {
            out.missing(text.symbol);
            continue;
        }
        char value[64];
        std::memset(value, 0, sizeof value);
        if (get(storage, value) == 0) out.field(text.field, value);
    }
    destroy(storage);
}

}  // namespace cli
