#include "core/paths/path_order.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "core/base/exceptions.h"
#include "core/paths/icu_functions.h"
#include "core/paths/sort_keys.h"

namespace vorn {

namespace {

// Hyphens and apostrophes (also the typographic one) become minor differences: they sort just
// after the same text without them, so co-op stands next to coop instead of among the words
// that start "co-".
// The typographic apostrophe is written as the character itself: the rule syntax reads a \u escape
// as the letters u, 2, 0, 1, 9.
constexpr char16_t kMinorPunctuation[] = u"&[last tertiary ignorable] << '-' << \\' << \u2019";

// The POSIX locale's collation is plain code-point order (B.jpg before a.jpg); the root
// collation is used instead.
bool IsPosixLocale(const char* name) {
    return std::strcmp(name, "en_US_POSIX") == 0 || std::strcmp(name, "c") == 0 ||
           std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

struct CollatorCloser {
    void operator()(UCollator* collator) const { Icu().ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

// The tailoring rules of `locale` (empty for the root collation and for POSIX).
std::u16string LocaleRules(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr base(Icu().ucol_open(locale, &status));
    if (U_FAILURE(status) || !base) {
        return {};
    }
    status = U_ZERO_ERROR;
    const char* actual = Icu().ucol_getLocaleByType(base.get(), ULOC_ACTUAL_LOCALE, &status);
    if (U_FAILURE(status) || actual == nullptr || IsPosixLocale(actual)) {
        return {};
    }
    int32_t length = 0;
    const UChar* rules = Icu().ucol_getRules(base.get(), &length);
    return rules != nullptr ? std::u16string(rules, static_cast<std::size_t>(length))
                            : std::u16string();
}

CollatorPtr OpenRules(const std::u16string& rules) {
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr collator(Icu().ucol_openRules(rules.data(), static_cast<int32_t>(rules.size()),
                                              UCOL_OFF, UCOL_SECONDARY, &parseError, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return collator;
}

// Settings that a locale's rules might switch on and that would break the path order's
// properties: shifted punctuation would make co-op equal to coop and let symbols sort among
// letters; a case level would tell a.jpg from A.JPG; numeric ordering would put img2 first.
void FixAttributes(UCollator* collator) {
    UErrorCode status = U_ZERO_ERROR;
    Icu().ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    Icu().ucol_setAttribute(collator, UCOL_CASE_LEVEL, UCOL_OFF, &status);
    Icu().ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
    Icu().ucol_setStrength(collator, UCOL_SECONDARY);
}

// The collation of `locale` at secondary strength.
CollatorPtr MakeCollator(const char* locale) {
    std::u16string localeRules = LocaleRules(locale);
    CollatorPtr collator = OpenRules(localeRules + kMinorPunctuation);
    if (!collator && !localeRules.empty()) {
        // A locale whose rules do not combine with the tailoring still gets the root order.
        collator = OpenRules(kMinorPunctuation);
    }
    if (!collator) {
        throw Exception("the path collation cannot be opened");
    }
    FixAttributes(collator.get());
    return collator;
}

CollatorPtr Clone(const UCollator* collator) {
    UErrorCode status = U_ZERO_ERROR;
#if U_ICU_VERSION_MAJOR_NUM >= 71
    CollatorPtr copy(Icu().ucol_clone(collator, &status));
#else
    CollatorPtr copy(Icu().ucol_safeClone(collator, nullptr, nullptr, &status));
#endif
    if (U_FAILURE(status) || !copy) {
        throw Exception("the path collation cannot be copied");
    }
    return copy;
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

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

// The collations are opened on first use: opening one costs milliseconds, which a run that
// never compares two paths (a check of one file) does not pay.
struct PathCollator::Impl {
    CollatorPtr caseless;  // secondary strength: the path order
    CollatorPtr caseExact; // tertiary strength: the switch test
    // With French accent order the accents of a name are weighed from its end, so a shared
    // folder part may decide between names; keys then always cover the whole path.
    bool backwardsAccents = false;
    WeightTable weights;
};

PathCollator::PathCollator() = default;

PathCollator::PathCollator(const char* locale) {
    if (locale != nullptr) {
        m_locale = locale;
    }
}

PathCollator::~PathCollator() = default;

const PathCollator::Impl& PathCollator::Opened() const {
    std::call_once(m_opened, [this] {
        auto impl = std::make_unique<Impl>();
        impl->caseless = MakeCollator(m_locale ? m_locale->c_str() : Icu().uloc_getDefault());
        impl->caseExact = Clone(impl->caseless.get());
        Icu().ucol_setStrength(impl->caseExact.get(), UCOL_TERTIARY);
        UErrorCode status = U_ZERO_ERROR;
        impl->backwardsAccents = Icu().ucol_getAttribute(impl->caseless.get(),
                                                         UCOL_FRENCH_COLLATION, &status) == UCOL_ON;
        impl->weights = MakeWeightTable(impl->caseless.get());
        m_impl = std::move(impl);
    });
    return *m_impl;
}

int PathCollator::Compare(std::string_view a, std::string_view b, bool ignoreCase) const {
    const Impl& impl = Opened();
    const UCollator* collator = ignoreCase ? impl.caseless.get() : impl.caseExact.get();
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        Icu().ucol_strcollUTF8(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                               static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) {
        return Sign(a.compare(b));
    }
    return static_cast<int>(result);
}

std::string PathCollator::SortKey(std::string_view path) const {
    return EngineSortKey(Opened().caseless.get(), path);
}

const PathCollator& DefaultPathCollator() {
    static const PathCollator collator;
    return collator;
}

std::vector<std::size_t> PathOrderOf(const std::vector<std::string>& paths,
                                     const PathCollator& collator) {
    std::vector<std::size_t> order;
    order.reserve(paths.size());
    if (paths.size() < 2) {
        for (std::size_t i = 0; i < paths.size(); ++i) {
            order.push_back(i);
        }
        return order;
    }
    const PathCollator::Impl& impl = collator.Opened();
    const std::size_t skip = impl.backwardsAccents ? 0 : SharedFolderLength(paths);
    SortKeys keys = MakeSortKeys(paths, skip, impl.caseless.get(), impl.weights);
    std::sort(keys.entries.begin(), keys.entries.end(),
              [&](const SortKeys::Entry& x, const SortKeys::Entry& y) {
                  if (x.head != y.head) {
                      return x.head < y.head;
                  }
                  if (const int keyOrder = keys.Key(x).compare(keys.Key(y)); keyOrder != 0) {
                      return keyOrder < 0;
                  }
                  return paths[x.index] < paths[y.index];
              });
    for (const SortKeys::Entry& entry : keys.entries) {
        order.push_back(entry.index);
    }
    return order;
}

void SortPaths(std::vector<std::string>& paths, const PathCollator& collator) {
    if (paths.size() < 2) {
        return;
    }
    std::vector<std::string> sorted;
    sorted.reserve(paths.size());
    for (const std::size_t index : PathOrderOf(paths, collator)) {
        sorted.push_back(std::move(paths[index]));
    }
    paths = std::move(sorted);
}

} // namespace vorn
