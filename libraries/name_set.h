#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

namespace archivers {

// A set of names held as places in a list of names kept elsewhere: one
// array of 4-byte slots, open addressing. A million names cost 8 MB here,
// against a node of its own per name in a std::unordered_set. `keyOf` gives
// the name at a place; what it refers to must outlive the set.
template <class KeyOf>
class NameSet {
public:
    static constexpr size_t kNone = SIZE_MAX;

    // Room for `count` names.
    NameSet(size_t count, KeyOf keyOf) : keyOf_(std::move(keyOf)) {
        size_t slots = 16;
        while (slots < 2 * count) slots *= 2;
        slots_.assign(slots, kEmpty);
    }

    // Adds the name at `place` unless an equal name is in; returns the place
    // of the name that is in the set now.
    size_t Insert(size_t place) {
        const std::string_view key = keyOf_(place);
        for (size_t s = Start(key);; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s] == kEmpty) {
                slots_[s] = static_cast<uint32_t>(place);
                return place;
            }
            if (keyOf_(slots_[s]) == key) return slots_[s];
        }
    }

    // The place of the name equal to `key`, or kNone.
    size_t Find(std::string_view key) const {
        for (size_t s = Start(key);; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s] == kEmpty) return kNone;
            if (keyOf_(slots_[s]) == key) return slots_[s];
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    size_t Start(std::string_view key) const { return std::hash<std::string_view>{}(key) & (slots_.size() - 1); }

    KeyOf keyOf_;
    std::vector<uint32_t> slots_;
};

}  // namespace archivers
