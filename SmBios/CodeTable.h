// Texts of firmware codes: an array indexed by code, written down as (code, text) pairs so
// that sparse code ranges read as the standard lists them.
#ifndef QARVEL_SMBIOS_CODETABLE_H
#define QARVEL_SMBIOS_CODETABLE_H

#include <cstddef>
#include <initializer_list>

struct CodeText {
    unsigned int code;
    const char* text;
};

template <std::size_t Size>
class CodeTable {
public:
    // A code outside 0..Size-1 does not compile when the table is constexpr.
    constexpr CodeTable(std::initializer_list<CodeText> entries) {
        for (const CodeText& entry : entries) text_[entry.code] = entry.text;
    }
    // The text of `code`, or `otherwise` when the table names no such code.
    constexpr const char* Find(unsigned int code, const char* otherwise) const {
        return code < Size && text_[code] ? text_[code] : otherwise;
    }

private:
    const char* text_[Size] = {};
};

#endif
