#include "core/paths/sort_keys.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/paths/icu_functions.h"

namespace vorn {

namespace {

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// Appends the sort key of `text` (without its terminating zero) to `key`.
void AppendSortKey(const UCollator* collator, const std::u16string& text, std::string& key) {
    const std::size_t start = key.size();
    std::size_t room = text.size() * 4 + 16;
    for (;;) {
        key.resize(start + room);
        const int32_t length = Icu().ucol_getSortKey(
            collator, text.data(), static_cast<int32_t>(text.size()),
            reinterpret_cast<uint8_t*>(key.data() + start), static_cast<int32_t>(room));
        if (length <= 0) {
            key.resize(start);
            return;
        }
        if (static_cast<std::size_t>(length) <= room) {
            key.resize(start + static_cast<std::size_t>(length) - 1);
            return;
        }
        room = static_cast<std::size_t>(length);
    }
}

// Weight keys. Sorting a folder of names costs little more than reading it when the keys are
// built from the collation's weights directly: a key is every non-zero primary weight, then
// 0x01 (below every primary weight), then every non-zero secondary weight, and its byte order
// is the collation's order at secondary strength. Each weight is written big-endian without its
// trailing zero bytes, as the engine writes its own keys: the weights are made so that this
// keeps their order across concatenation. Plain ASCII text, the common case, takes its weights
// from a table made once; other text from the collation element iterator. The table is exact
// when ASCII text collates as the sequence of its characters' own weights: no run of ASCII
// characters is a contraction or a context (as "ch" is in Czech). Where that fails, or the
// collation reorders scripts or weighs accents from the end, or the keys disagree with the
// engine on a set of probes, the engine's own sort keys are used instead; the two kinds are
// never mixed in one sort.

// Appends `weight` (`bytes` wide) without its trailing zero bytes; nothing for a zero weight.
void AppendWeight(std::string& out, uint32_t weight, int bytes) {
    for (uint32_t rest = weight << (32 - 8 * bytes); rest != 0; rest <<= 8) {
        out.push_back(static_cast<char>(rest >> 24));
    }
}

bool AllAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct ElementsCloser {
    void operator()(UCollationElements* elements) const { Icu().ucol_closeElements(elements); }
};
using ElementsPtr = std::unique_ptr<UCollationElements, ElementsCloser>;

// Appends the non-zero primary and secondary weights of `text` to `primary` and `secondary`.
// The element iterator hands a 64-bit element out as two 32-bit halves: primary bits 31-16 and
// secondary bits 15-8 first; then, marked as a continuation, primary bits 15-0 and secondary
// bits 7-0.
bool ReadWeights(UCollationElements* elements, const std::u16string& text, std::string& primary,
                 std::string& secondary) {
    const IcuFunctions& icu = Icu();
    UErrorCode status = U_ZERO_ERROR;
    icu.ucol_setText(elements, text.data(), static_cast<int32_t>(text.size()), &status);
    uint32_t p = 0;
    uint32_t s = 0;
    while (U_SUCCESS(status)) {
        const int32_t element = icu.ucol_next(elements, &status);
        if (element == UCOL_NULLORDER) {
            break;
        }
        const auto half = static_cast<uint32_t>(element);
        if ((half & 0xC0) == 0xC0) {
            p |= half >> 16;
            s |= (half >> 8) & 0xFF;
        } else {
            AppendWeight(primary, p, 4);
            AppendWeight(secondary, s, 2);
            p = half & 0xFFFF0000u;
            s = half & 0xFF00u;
        }
    }
    AppendWeight(primary, p, 4);
    AppendWeight(secondary, s, 2);
    return U_SUCCESS(status);
}

// Writes weight keys, reusing one element iterator and its buffers for many texts.
class WeightKeyWriter {
public:
    WeightKeyWriter(const UCollator* collator, const WeightTable& table)
        : m_collator(collator)
        , m_table(table) {}

    // False when the element iterator failed; the key is then incomplete.
    bool Append(std::string_view text, std::string& key) {
        if (!AllAscii(text)) {
            ToUtf16(text, m_text);
            return Append(m_text, key);
        }
        // Whole entries are copied and the end moved by their length, so the room covers the
        // widest entry for every character and the padding of the last.
        const std::size_t start = key.size();
        key.resize(start + (text.size() + 1) * 2 * kMaxWeightBytes + 1);
        char* out = key.data() + start;
        for (const char c : text) {
            const WeightTable::Entry& entry = m_table.ascii[static_cast<unsigned char>(c)];
            std::memcpy(out, entry.primary.data(), kMaxWeightBytes);
            out += entry.primaryLength;
        }
        *out++ = '\x01';
        for (const char c : text) {
            const WeightTable::Entry& entry = m_table.ascii[static_cast<unsigned char>(c)];
            std::memcpy(out, entry.secondary.data(), kMaxWeightBytes);
            out += entry.secondaryLength;
        }
        key.resize(static_cast<std::size_t>(out - key.data()));
        return true;
    }

    bool Append(const std::u16string& text, std::string& key) {
        if (!m_elements) {
            UErrorCode status = U_ZERO_ERROR;
            m_elements.reset(Icu().ucol_openElements(m_collator, nullptr, 0, &status));
            if (U_FAILURE(status)) {
                m_elements.reset();
                return false;
            }
        }
        m_secondary.clear();
        const bool read = ReadWeights(m_elements.get(), text, key, m_secondary);
        key.push_back('\x01');
        key += m_secondary;
        return read;
    }

private:
    const UCollator* m_collator;
    const WeightTable& m_table;
    ElementsPtr m_elements;
    std::u16string m_text;
    std::string m_secondary;
};

// True when some tailored contraction or context of the collation is made of ASCII characters
// only. The root collation has none: it contracts only characters of other scripts.
bool HasAsciiContractions(const UCollator* collator) {
    UErrorCode status = U_ZERO_ERROR;
    USet* tailored = Icu().ucol_getTailoredSet(collator, &status);
    if (U_FAILURE(status)) {
        return true;
    }
    bool found = false;
    UChar buffer[64];
    for (int32_t i = 0, n = Icu().uset_getItemCount(tailored); i < n && !found; ++i) {
        UChar32 start = 0;
        UChar32 end = 0;
        UErrorCode itemStatus = U_ZERO_ERROR;
        const int32_t length =
            Icu().uset_getItem(tailored, i, &start, &end, buffer, 64, &itemStatus);
        if (U_FAILURE(itemStatus)) {
            found = true; // too long to look at: not trusted
        } else if (length > 1) {
            found = std::all_of(buffer, buffer + length, [](UChar c) { return c < 0x80; });
        }
    }
    Icu().uset_close(tailored);
    return found;
}

// Texts on which weight keys must agree with the engine: every ASCII character, and words with
// what tends to go wrong (minor punctuation, case, accents precomposed and combining, letters a
// locale moves, characters beyond the first plane, the replacement character).
std::vector<std::u16string> AgreementTexts() {
    std::vector<std::u16string> probes;
    for (char16_t c = 0; c < 128; ++c) {
        probes.emplace_back(1, c);
    }
    for (const char16_t* word : {u"",
                                 u"co-op",
                                 u"coop",
                                 u"co'op",
                                 u"co\u2019op",
                                 u"Coop",
                                 u"cop",
                                 u"a.jpg",
                                 u"A.JPG",
                                 u"a-.jpg",
                                 u"a.jpg-",
                                 u"img10.jpg",
                                 u"img2.jpg",
                                 u"ch",
                                 u"cz",
                                 u"hz",
                                 u"aa",
                                 u"az",
                                 u"\u00E4",
                                 u"a\u0308",
                                 u"\u00C4b",
                                 u"ab",
                                 u"\u00E9t\u00E9",
                                 u"ete",
                                 u"\u00DF",
                                 u"ss",
                                 u"\u00F8",
                                 u"oz",
                                 u"\u0142",
                                 u"\u00FE",
                                 u"\u4E00",
                                 u"\u30A2",
                                 u"\u0416",
                                 u"\U0001F600",
                                 u"\uFFFD",
                                 u"\uFFFDa",
                                 u"\u0301a",
                                 u"a\u0301"}) {
        probes.emplace_back(word);
    }
    return probes;
}

} // namespace

WeightTable MakeWeightTable(const UCollator* collator) {
    WeightTable table;
    UErrorCode status = U_ZERO_ERROR;
    if (Icu().ucol_getAttribute(collator, UCOL_FRENCH_COLLATION, &status) == UCOL_ON ||
        Icu().ucol_getReorderCodes(collator, nullptr, 0, &status) > 0 || U_FAILURE(status) ||
        HasAsciiContractions(collator)) {
        return table;
    }
    status = U_ZERO_ERROR;
    ElementsPtr elements(Icu().ucol_openElements(collator, nullptr, 0, &status));
    if (U_FAILURE(status)) {
        return table;
    }
    std::string primary;
    std::string secondary;
    for (char16_t c = 0; c < 128; ++c) {
        primary.clear();
        secondary.clear();
        if (!ReadWeights(elements.get(), std::u16string(1, c), primary, secondary) ||
            primary.size() > kMaxWeightBytes || secondary.size() > kMaxWeightBytes) {
            return table;
        }
        WeightTable::Entry& entry = table.ascii[c];
        std::memcpy(entry.primary.data(), primary.data(), primary.size());
        std::memcpy(entry.secondary.data(), secondary.data(), secondary.size());
        entry.primaryLength = static_cast<uint8_t>(primary.size());
        entry.secondaryLength = static_cast<uint8_t>(secondary.size());
    }

    const std::vector<std::u16string> probes = AgreementTexts();
    std::vector<std::string> keys(probes.size());
    WeightKeyWriter writer(collator, table);
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const std::u16string& probe = probes[i];
        const bool ascii =
            std::all_of(probe.begin(), probe.end(), [](char16_t c) { return c < 0x80; });
        const bool written = ascii ? writer.Append(std::string(probe.begin(), probe.end()), keys[i])
                                   : writer.Append(probe, keys[i]);
        if (!written) {
            return table;
        }
    }
    for (std::size_t i = 0; i < probes.size(); ++i) {
        for (std::size_t j = i + 1; j < probes.size(); ++j) {
            const UCollationResult engine = Icu().ucol_strcoll(
                collator, probes[i].data(), static_cast<int32_t>(probes[i].size()),
                probes[j].data(), static_cast<int32_t>(probes[j].size()));
            if (Sign(keys[i].compare(keys[j])) != static_cast<int>(engine)) {
                return table;
            }
        }
    }
    table.usable = true;
    return table;
}

namespace {

// Appends the keys of `texts` to `out`; false when a weight key could not be written.
bool AppendKeys(const std::vector<std::string>& texts, std::size_t skip, const UCollator* collator,
                WeightKeyWriter* writer, SortKeys& out) {
    out.entries.clear();
    out.entries.reserve(texts.size());
    out.keys.clear();
    out.keys.reserve(texts.size() * 48);
    std::u16string text;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string_view rest = std::string_view(texts[i]).substr(skip);
        const std::size_t start = out.keys.size();
        if (writer != nullptr) {
            if (!writer->Append(rest, out.keys)) {
                return false;
            }
        } else {
            ToUtf16(rest, text);
            AppendSortKey(collator, text, out.keys);
        }
        std::uint64_t head = 0;
        for (std::size_t b = start; b < start + 8; ++b) {
            head =
                (head << 8) | (b < out.keys.size() ? static_cast<unsigned char>(out.keys[b]) : 0u);
        }
        out.entries.push_back({head, start, out.keys.size() - start, i});
    }
    return true;
}

} // namespace

void ToUtf16(std::string_view text, std::u16string& out) {
    out.resize(text.size() + 1);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = 0;
        Icu().u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                                   text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                                   &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length) + 1);
            continue;
        }
        out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
        return;
    }
}

std::string EngineSortKey(const UCollator* collator, std::string_view text) {
    std::u16string utf16;
    ToUtf16(text, utf16);
    std::string key;
    AppendSortKey(collator, utf16, key);
    return key;
}

SortKeys MakeSortKeys(const std::vector<std::string>& texts, std::size_t skip,
                      const UCollator* collator, const WeightTable& table) {
    SortKeys keys;
    if (table.usable) {
        WeightKeyWriter writer(collator, table);
        if (AppendKeys(texts, skip, collator, &writer, keys)) {
            return keys;
        }
    }
    AppendKeys(texts, skip, collator, nullptr, keys);
    return keys;
}

} // namespace vorn
