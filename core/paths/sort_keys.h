#pragma once
// Sort keys under an ICU collator at secondary strength: byte strings whose byte order is the
// collator's order, so a list is sorted by comparing keys made once per text instead of asking
// the collator at every comparison.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/ucol.h>

namespace vorn {

// UTF-8 to UTF-16; every ill-formed sequence becomes U+FFFD.
void ToUtf16(std::string_view text, std::u16string& out);

// The collator's own key of `text`.
std::string EngineSortKey(const UCollator* collator, std::string_view text);

// The most weight bytes one ASCII character may have at one level (two elements' worth).
inline constexpr std::size_t kMaxWeightBytes = 8;

// The weights of the ASCII characters under one collator, from which weight keys of plain ASCII
// text are written without asking the collator. Made once per collator; `usable` is false where
// such keys would disagree with the collator.
struct WeightTable {
    // The weights of one ASCII character, padded with zeros: primary bytes, then secondary.
    struct Entry {
        std::array<char, kMaxWeightBytes> primary{};
        std::array<char, kMaxWeightBytes> secondary{};
        std::uint8_t primaryLength = 0;
        std::uint8_t secondaryLength = 0;
    };
    bool usable = false;
    std::array<Entry, 128> ascii;
};

WeightTable MakeWeightTable(const UCollator* collator);

// The keys of a list of texts, all in one buffer: an entry names its key by offset and length and
// carries the key's first eight bytes as a number, which decides most comparisons.
struct SortKeys {
    struct Entry {
        std::uint64_t head;
        std::size_t keyStart;
        std::size_t keyLength;
        std::size_t index; // of the text in the list
    };
    std::vector<Entry> entries;
    std::string keys;

    std::string_view Key(const Entry& entry) const {
        return std::string_view(keys.data() + entry.keyStart, entry.keyLength);
    }
};

// The keys of every text in `texts` from byte `skip` on: weight keys where `table` is usable and
// every one can be written, else the collator's own keys; the two kinds are never mixed.
SortKeys MakeSortKeys(const std::vector<std::string>& texts, std::size_t skip,
                      const UCollator* collator, const WeightTable& table);

} // namespace vorn
