// The one field copier: whatever the ending, nothing is written past the field, and the
// ending is the one each convention of the records relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/field.h"

namespace {

// An 8-byte field between guard bytes, filled with 'x' so that every byte written shows.
struct Guarded {
    char before = '#';
    char field[8];
    char after = '#';
    Guarded() { std::memset(field, 'x', sizeof field); }
    std::string Bytes() const { return std::string(field, sizeof field); }
};

TEST(Field, EachEndingWritesWhatItSaysAndNothingPastTheField) {
    using namespace std::string_literals;
    struct Case {
        const char* text;
        std::size_t most;
        FieldEnd end;
        std::string bytes;
        std::size_t copied;
    } cases[] = {
        {"abc", 8, FieldEnd::Open, "abcxxxxx", 3},
        {"abc", 8, FieldEnd::Terminated, "abc\0xxxx"s, 3},
        {"abc", 8, FieldEnd::Cleared, "abc\0\0\0\0\0"s, 3},
        // Longer than the field: size - 1 bytes, the last byte kept for the terminator.
        {"abcdefghij", 100, FieldEnd::Open, "abcdefgx", 7},
        {"abcdefghij", 100, FieldEnd::Terminated, "abcdefg\0"s, 7},
        {"abcdefghij", 100, FieldEnd::Cleared, "abcdefg\0"s, 7},
        // A count shorter than the text, as for the counted FRU and IPMI user fields.
        {"abcdef", 2, FieldEnd::Cleared, "ab\0\0\0\0\0\0"s, 2},
        {"", 8, FieldEnd::Terminated, "\0xxxxxxx"s, 0},
    };
    for (const Case& c : cases) {
        Guarded g;
        EXPECT_EQ(CopyField(g.field, sizeof g.field, c.text, c.most, c.end), c.copied) << c.text;
        EXPECT_EQ(g.Bytes(), c.bytes) << c.text;
        EXPECT_EQ(g.before, '#');
        EXPECT_EQ(g.after, '#');
    }
    Guarded empty;
    EXPECT_EQ(CopyField(empty.field, 0, "abc", 3, FieldEnd::Cleared), 0u);
    EXPECT_EQ(empty.Bytes(), "xxxxxxxx");
    CopyToField(empty.field, "0123456789");
    EXPECT_STREQ(empty.field, "0123456");
    EXPECT_EQ(empty.after, '#');
}

}  // namespace
