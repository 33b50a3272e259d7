// Where a reader puts the entries of a record: the fixed array of a caller's record (GetInfo:
// the first entries, as many as the array holds) or a list without that bound (the one
// reading a paged walk serves its pages from). A reader asks for the next entry while the
// place is not full, so the same walk fills either.
#ifndef QARVEL_PROCESS_ENTRIES_H
#define QARVEL_PROCESS_ENTRIES_H

#include <cstddef>
#include <vector>

namespace qarvel {

template <typename Entry>
class Entries {
public:
    // The caller's array, of which the first `used` entries are taken already: it was zeroed
    // by the caller, and is written only up to its end.
    template <std::size_t N>
    explicit Entries(Entry (&fixed)[N], std::size_t used = 0) : fixed_(fixed), capacity_(N), count_(used) {}
    // Every entry, each new one zeroed.
    explicit Entries(std::vector<Entry>& every) : every_(&every) { every.clear(); }

    bool Full() const { return !every_ && count_ >= capacity_; }
    // The next entry; only while !Full(). A reference into a list is good until the next call.
    Entry& Next() {
        ++count_;
        if (!every_) return fixed_[count_ - 1];
        every_->emplace_back();
        return every_->back();
    }
    int Count() const { return static_cast<int>(count_); }

private:
    Entry* fixed_ = nullptr;
    std::size_t capacity_ = 0;
    std::vector<Entry>* every_ = nullptr;
    std::size_t count_ = 0;
};

}  // namespace qarvel

#endif
