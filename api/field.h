// The one way a text goes into a fixed-size field of a record. Every getter and every filler
// copies through CopyField, so no text is ever written past its field, whichever of the
// library's conventions the field follows (see FieldEnd). Header-only: the subsystems fill
// exchange records with it as the export layer does.
#ifndef QARVEL_API_FIELD_H
#define QARVEL_API_FIELD_H

#include <cstddef>

// What follows the copied text in the field.
enum class FieldEnd {
    Open,        // nothing: the caller cleared the field, and a full field has no NUL
    Terminated,  // one NUL
    Cleared,     // zeros to the end of the field
};

// Copies `text` up to its NUL, and at most `most` bytes of it, into `field` of `size` bytes:
// never more than size - 1 bytes, so that the last byte stays free for a terminator. The
// number of text bytes copied; a field of no bytes is left alone.
inline std::size_t CopyField(char* field, std::size_t size, const char* text, std::size_t most, FieldEnd end) {
    if (size == 0) return 0;
    const std::size_t limit = most < size - 1 ? most : size - 1;
    std::size_t n = 0;
    for (; n < limit && text[n] != '\0'; ++n) field[n] = text[n];
    if (end == FieldEnd::Terminated) field[n] = '\0';
    if (end == FieldEnd::Cleared)
        for (std::size_t i = n; i < size; ++i) field[i] = '\0';
    return n;
}

// Copies `text` into a fixed field: at most N - 1 characters and a NUL, never past it.
template <std::size_t N>
void CopyToField(char (&field)[N], const char* text) {
    CopyField(field, N, text, N, FieldEnd::Terminated);
}

#endif
