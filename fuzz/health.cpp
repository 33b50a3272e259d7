// The hwmon and EDAC attribute parsers, and both readers over a machine whose attribute files
// hold the fuzzer's bytes: every number and name in those files is a driver's text. The
// input is cut at '|' into the pieces the files hold.
#include <vector>

#include "api/health_types.h"
#include "fuzz/fuzz.h"
#include "health/hwmon.h"
#include "health/parse.h"
#include "sim/Disk.h"
#include "sim/hwmon.h"

void fuzz::Decode(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::Text(data, size);
    long long integer = 0;
    std::uint64_t counter = 0;
    if (qarvel::ParseSysfsInteger(text.data(), text.size(), integer) &&
        qarvel::ParseSysfsCounter(text.data(), text.size(), counter) && static_cast<std::uint64_t>(integer) != counter)
        __builtin_trap();
    qarvel::SysfsText(text.data(), text.size());
    qarvel::HwmonAttribute attribute;
    if (qarvel::ParseHwmonAttribute(text, attribute) && attribute.item >= qarvel::HwmonItem::Count) __builtin_trap();
    unsigned channel = 0;
    bool label = false;
    qarvel::ParseCsrowChannelAttribute(text, channel, label);
    qarvel::ResolveLink("/sys/class/hwmon/hwmon0", text);

    std::vector<std::string> piece(1);
    for (char c : text) {
        if (c == '|')
            piece.emplace_back();
        else
            piece.back().push_back(c);
    }
    piece.resize(12);
    const int match = qarvel::MatchDimmLabel(piece[0], {{piece[1], piece[2], "", ""}, {piece[3], piece[4], "", ""}});
    if (match < -1 || match > 1) __builtin_trap();

    FreshMachine machine;
    sim::SysfsTree tree;
    sim::describe_hwmon_chip(tree, {0, "/sys/devices/platform/x.0", piece[5],
                                    {{"temp1_input", piece[6]}, {"temp1_max", piece[7]}, {"temp1_label", piece[8]},
                                     {"temp1_alarm", piece[9]}, {"in0_input", piece[10]}, {"fan1_fault", piece[11]},
                                     {"fan1_input", piece[6]}}});
    sim::describe_edac_controller(tree, 0, {{"mc_name", piece[5]}, {"ce_count", piece[6]}, {"size_mb", piece[7]},
                                            {"dimm0/dimm_label", piece[0]}, {"dimm0/size", piece[10]},
                                            {"dimm0/dimm_ce_count", piece[11]}, {"csrow0/ch0_ce_count", piece[9]}});
    tree.install(*machine);
    auto hwmon = std::make_unique<HWMON_INFO>();
    if (qarvel::FillHwmon(hwmon.get()) == 0 && hwmon->quantity > HWMON_MOST_SENSORS) __builtin_trap();
    auto edac = std::make_unique<EDAC_INFO>();
    if (qarvel::FillEdac(edac.get()) == 0 && edac->DimmQuantity > EDAC_MOST_DIMMS) __builtin_trap();
}
