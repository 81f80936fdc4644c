#pragma once
// A temporary folder for tests: made fresh under the system's temporary folder, removed with
// everything in it when the tree goes, whatever bytes the names hold (QTemporaryDir cannot remove
// a name that is not UTF-8) and whatever permissions a test took away. Paths in it are byte
// strings, like every path of the program.

#include <string>
#include <string_view>

class TempTree {
public:
    // Throws std::runtime_error when no folder can be made.
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return m_root; }
    // Removes everything in the tree, keeping its root.
    void Clear() const;
    std::string Path(std::string_view relative) const;

    // Writes `bytes` (by default the smallest sound JPEG) to the file `relative`, making its
    // folders; returns its path.
    std::string Write(std::string_view relative,
                      std::string_view bytes = std::string_view("\xFF\xD8\xFF\xD9", 4)) const;
    // Makes the folder `relative` and its parents; returns its path.
    std::string Folder(std::string_view relative) const;
    // Replaces the root's path by "T" so that expectations read the same in every run.
    std::string Short(const std::string& path) const;

private:
    std::string m_root;
};
