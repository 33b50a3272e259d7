#include "cli/report.h"

#include <dlfcn.h>

namespace cli {

void* Library::symbol(const char* name) const { return dlsym(handle_, name); }

void Printer::section(const std::string& title) {
    std::fprintf(out_, "\n[%s]\n", title.c_str());
    prefix_.clear();
}

void Printer::result(const std::string& call, int value) { std::fprintf(out_, "%s=%d\n", call.c_str(), value); }

void Printer::missing(const char* symbol) {
    ++missed_;
    std::fprintf(out_, "%s: not exported by this library\n", symbol);
}

void Printer::text_field(const std::string& name, const char* text, std::size_t size) {
    std::fprintf(out_, "%s%s=", prefix_.c_str(), name.c_str());
    for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            std::fputc(c, out_);
        else
            std::fprintf(out_, "\\x%02X", c);
    }
    std::fputc('\n', out_);
}

void Printer::field(const std::string& name, long value) {
    std::fprintf(out_, "%s%s=%ld\n", prefix_.c_str(), name.c_str(), value);
}

void Printer::field(const std::string& name, double value) {
    std::fprintf(out_, "%s%s=%.2f\n", prefix_.c_str(), name.c_str(), value);
}

}  // namespace cli
