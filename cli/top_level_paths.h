#pragma once
// "Already listed" for vorn-check without keeping a record of every file printed. Within the walk
// of one command-line path every file's text is new (each folder is entered once, and the names
// in a folder differ); a text can come again only from a later command-line path that repeats an
// earlier one, or that lies inside an earlier folder (which sorts before it). So remembering the
// command-line paths already walked is enough, and memory stays flat however many files follow;
// only the folders inside them that the walk did not enter are remembered besides, since a
// later path below one of those was never reached.

#include <string>
#include <string_view>
#include <unordered_set>

namespace vorn::cli {

class TopLevelPaths {
public:
    // True when `path` is one of the command-line paths handled so far, or lies inside one of
    // them as a folder (its text continues that path and a delimiter with plain names, none
    // empty, "." or "..", as a walk writes them).
    bool Covers(std::string_view path) const;
    // Records a command-line path once it has been handled.
    void Add(const std::string& path);
    // Records a folder the walk met but did not walk (refused, a loop, a pseudo file system):
    // nothing below it counts as covered.
    void AddHole(const std::string& path);

private:
    std::unordered_set<std::string> m_paths;
    std::unordered_set<std::string> m_folders; // each with its trailing delimiter
    std::unordered_set<std::string> m_holes;   // each with its trailing delimiter
};

} // namespace vorn::cli
