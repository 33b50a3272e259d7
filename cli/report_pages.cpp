#include "cli/report_pages.h"

namespace cli {

void print_page_entries(Printer& out, const Printer& page, int first) {
    for (const Printer::Entry& e : page.entries()) {
        if (e.kind != Printer::Entry::Text && e.kind != Printer::Entry::Integer && e.kind != Printer::Entry::Real &&
            e.kind != Printer::Entry::Count)
            continue;
        const std::size_t open = e.name.find('['), close = e.name.find(']');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        const int index = std::stoi(e.name.substr(open + 1, close - open - 1));
        out.copy(e, e.name.substr(0, open + 1) + std::to_string(index + first) + e.name.substr(close));
    }
}

}  // namespace cli
