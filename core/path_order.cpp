#include "core/path_order.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace vorn {

namespace {

// Hyphens and apostrophes (also the typographic one) become minor differences: they sort just
// after the same text without them, so co-op stands next to coop instead of among the words
// that start "co-".
constexpr char16_t kMinorPunctuation[] = u"&[last tertiary ignorable] << '-' << \\' << \\u2019";

// The POSIX locale's collation is plain code-point order (B.jpg before a.jpg); the root
// collation is used instead.
bool IsPosixLocale(const char* name) {
    return std::strcmp(name, "en_US_POSIX") == 0 || std::strcmp(name, "c") == 0 ||
           std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

struct CollatorCloser {
    void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

// The tailoring rules of `locale` (empty for the root collation and for POSIX).
std::u16string LocaleRules(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr base(ucol_open(locale, &status));
    if (U_FAILURE(status) || !base) {
        return {};
    }
    status = U_ZERO_ERROR;
    const char* actual = ucol_getLocaleByType(base.get(), ULOC_ACTUAL_LOCALE, &status);
    if (U_FAILURE(status) || actual == nullptr || IsPosixLocale(actual)) {
        return {};
    }
    int32_t length = 0;
    const UChar* rules = ucol_getRules(base.get(), &length);
    return rules != nullptr ? std::u16string(rules, static_cast<std::size_t>(length))
                            : std::u16string();
}

CollatorPtr OpenRules(const std::u16string& rules) {
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr collator(ucol_openRules(rules.data(), static_cast<int32_t>(rules.size()), UCOL_OFF,
                                        UCOL_SECONDARY, &parseError, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return collator;
}

// Settings that a locale's rules might switch on and that would break the path order's
// properties: shifted punctuation would make co-op equal to coop and let symbols sort among
// letters; a case level would tell a.jpg from A.JPG; numeric ordering would put img2 first.
void FixAttributes(UCollator* collator, UCollationStrength strength) {
    UErrorCode status = U_ZERO_ERROR;
    ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    ucol_setAttribute(collator, UCOL_CASE_LEVEL, UCOL_OFF, &status);
    ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
    ucol_setStrength(collator, strength);
}

CollatorPtr MakeCollator(const char* locale, UCollationStrength strength) {
    std::u16string localeRules = LocaleRules(locale);
    CollatorPtr collator = OpenRules(localeRules + kMinorPunctuation);
    if (!collator && !localeRules.empty()) {
        // A locale whose rules do not combine with the tailoring still gets the root order.
        collator = OpenRules(kMinorPunctuation);
    }
    if (!collator) {
        throw std::runtime_error("the path collation cannot be opened");
    }
    FixAttributes(collator.get(), strength);
    return collator;
}

// Converts UTF-8 to UTF-16; every ill-formed sequence becomes U+FFFD.
void ToUtf16(std::string_view text, std::u16string& out) {
    out.resize(text.size() + 1);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = 0;
        u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                             static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length) + 1);
            continue;
        }
        out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
        return;
    }
}

// Appends the sort key of `text` (without its terminating zero) to `key`.
void AppendSortKey(const UCollator* collator, const std::u16string& text, std::string& key) {
    const std::size_t start = key.size();
    std::size_t room = text.size() * 4 + 16;
    for (;;) {
        key.resize(start + room);
        const int32_t length = ucol_getSortKey(
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

int Sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

struct PathCollator::Impl {
    CollatorPtr caseless;  // secondary strength: the path order
    CollatorPtr caseExact; // tertiary strength: the switch test
    // With French accent order the accents of a name are weighed from its end, so a shared
    // folder part may decide between names; keys then always cover the whole path.
    bool backwardsAccents = false;
};

PathCollator::PathCollator()
    : PathCollator(uloc_getDefault()) {}

PathCollator::PathCollator(const char* locale)
    : m_impl(std::make_unique<Impl>()) {
    if (locale == nullptr) {
        locale = uloc_getDefault();
    }
    m_impl->caseless = MakeCollator(locale, UCOL_SECONDARY);
    m_impl->caseExact = MakeCollator(locale, UCOL_TERTIARY);
    UErrorCode status = U_ZERO_ERROR;
    m_impl->backwardsAccents =
        ucol_getAttribute(m_impl->caseless.get(), UCOL_FRENCH_COLLATION, &status) == UCOL_ON;
}

PathCollator::~PathCollator() = default;

int PathCollator::Compare(std::string_view a, std::string_view b, bool ignoreCase) const {
    const UCollator* collator = ignoreCase ? m_impl->caseless.get() : m_impl->caseExact.get();
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                         static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) {
        return Sign(a.compare(b));
    }
    return static_cast<int>(result);
}

std::string PathCollator::SortKey(std::string_view path) const {
    std::u16string text;
    ToUtf16(path, text);
    std::string key;
    AppendSortKey(m_impl->caseless.get(), text, key);
    return key;
}

const PathCollator& DefaultPathCollator() {
    static const PathCollator collator;
    return collator;
}

namespace {

// The length of the folder part every path shares: the common prefix up to and including its
// last "/" or "\". Such a delimiter starts no contraction and ends none, so the key of a path
// is the key of this prefix joined with the key of the rest, and paths that share the prefix
// compare as their rests do.
std::size_t SharedFolderLength(const std::vector<std::string>& paths) {
    std::string_view prefix = paths.front();
    for (const std::string& path : paths) {
        const auto mismatch = std::mismatch(prefix.begin(), prefix.end(), path.begin(), path.end());
        prefix = prefix.substr(0, static_cast<std::size_t>(mismatch.first - prefix.begin()));
        if (prefix.empty()) {
            return 0;
        }
    }
    const std::size_t delimiter = prefix.find_last_of("/\\");
    return delimiter == std::string_view::npos ? 0 : delimiter + 1;
}

} // namespace

void SortPaths(std::vector<std::string>& paths, const PathCollator& collator) {
    if (paths.size() < 2) {
        return;
    }
    const UCollator* ucollator = collator.m_impl->caseless.get();
    const std::size_t skip = collator.m_impl->backwardsAccents ? 0 : SharedFolderLength(paths);

    // All keys live in one buffer; an entry names its key by offset and length.
    struct Entry {
        std::size_t keyStart;
        std::size_t keyLength;
        std::size_t index;
    };
    std::vector<Entry> entries;
    entries.reserve(paths.size());
    std::string keys;
    keys.reserve(paths.size() * 32);
    std::u16string text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ToUtf16(std::string_view(paths[i]).substr(skip), text);
        const std::size_t start = keys.size();
        AppendSortKey(ucollator, text, keys);
        entries.push_back({start, keys.size() - start, i});
    }

    std::sort(entries.begin(), entries.end(), [&](const Entry& x, const Entry& y) {
        const std::string_view keyX(keys.data() + x.keyStart, x.keyLength);
        const std::string_view keyY(keys.data() + y.keyStart, y.keyLength);
        if (const int order = keyX.compare(keyY); order != 0) {
            return order < 0;
        }
        return paths[x.index] < paths[y.index];
    });

    std::vector<std::string> sorted;
    sorted.reserve(paths.size());
    for (const Entry& entry : entries) {
        sorted.push_back(std::move(paths[entry.index]));
    }
    paths = std::move(sorted);
}

} // namespace vorn
