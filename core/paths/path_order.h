#pragma once
// Path order: the one order in which the program sorts path lists. A linguistic, case-insensitive
// comparison of whole paths in the user's locale: letters of either case sort together
// (a.jpg < B.jpg), digits compare one character at a time (img10.jpg < img2.jpg), punctuation and
// symbols come before digits, which come before letters, and hyphens and apostrophes weigh
// little (co-op sorts next to coop). Holds in every locale, C and POSIX included.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

// The collations are opened on the first comparison, key or sort of two or more paths, so a run
// that never orders anything does not pay for them; that first use throws vorn::Exception when
// they cannot be opened. Safe to use from several threads at once.
class PathCollator {
public:
    // The collator of the user's locale (from the environment); the root collation for C/POSIX.
    PathCollator();
    // The collator of a named ICU locale ("sv_SE", "" for root, "en_US_POSIX"); null for the
    // user's.
    explicit PathCollator(const char* locale);
    ~PathCollator();
    PathCollator(const PathCollator&) = delete;
    PathCollator& operator=(const PathCollator&) = delete;

    // Three-way comparison of two byte strings (UTF-8; ill-formed bytes compare as U+FFFD).
    // ignoreCase false compares at tertiary strength, which the command-line switch test uses.
    int Compare(std::string_view a, std::string_view b, bool ignoreCase = true) const;
    // A key whose byte order is Compare(…, true) order.
    std::string SortKey(std::string_view path) const;

private:
    friend std::vector<std::size_t> PathOrderOf(const std::vector<std::string>& paths,
                                                const PathCollator& collator);
    struct Impl;
    const Impl& Opened() const;

    std::optional<std::string> m_locale; // none: the user's
    mutable std::once_flag m_opened;
    mutable std::unique_ptr<Impl> m_impl;
};

// The process-wide collator of the user's locale, made on first use.
const PathCollator& DefaultPathCollator();

// The indexes of `paths` in path order, computing one sort key per path. Paths whose keys are
// equal (A.JPG and a.jpg) are ordered by their bytes, so the result is deterministic.
std::vector<std::size_t> PathOrderOf(const std::vector<std::string>& paths,
                                     const PathCollator& collator = DefaultPathCollator());

// Sorts in place in path order (see PathOrderOf).
void SortPaths(std::vector<std::string>& paths,
               const PathCollator& collator = DefaultPathCollator());

} // namespace vorn
