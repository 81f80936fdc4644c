#include "core/path_walk.h"

#include <algorithm>

#include "core/path_order.h"
#include "core/path_rules.h"

namespace vorn {

PathWalk::PathWalk(Visitor& visitor, const PathCollator& collator)
    : m_visitor(visitor)
    , m_collator(collator) {}

void PathWalk::Walk(const std::vector<std::string>& paths) {
    struct ListScope {
        Visitor& visitor;
        ~ListScope() { visitor.ListEnded(); }
    };
    m_visitor.ListStarted(paths.size());
    const ListScope scope{m_visitor};
    // The count is taken once: the list belongs to the caller and does not change meanwhile.
    const std::size_t count = paths.size();
    for (std::size_t i = 0; i < count && !m_visitor.Stopped(); ++i) {
        WalkPath(paths[i]);
        m_visitor.PathHandled(paths[i]);
    }
}

void PathWalk::WalkPath(const std::string& path) {
    if (path.empty() || m_visitor.IsListed(path))
        return;
    // The folder test comes first, so a folder named album.jpg is walked, not listed.
    const PathFacts facts = ExaminePath(path);
    if (facts.folder) {
        WalkFolder(path, *facts.folder);
        return;
    }
    if (facts.exists && HasJpegExtension(path))
        m_visitor.Take(path);
}

void PathWalk::WalkFolder(const std::string& path, const FolderIdentity& identity) {
    if (std::find(m_foldersBeingWalked.begin(), m_foldersBeingWalked.end(), identity) !=
        m_foldersBeingWalked.end())
        return;
    struct FolderScope {
        std::vector<FolderIdentity>& folders;
        ~FolderScope() { folders.pop_back(); }
    };
    m_foldersBeingWalked.push_back(identity);
    const FolderScope scope{m_foldersBeingWalked};

    const std::string folder = WithTrailingDelimiter(path);
    std::vector<std::string> entries = ListFolder(folder);
    if (entries.empty())
        return;
    for (std::string& entry : entries)
        entry.insert(0, folder);
    SortPaths(entries, m_collator);
    Walk(entries);
}

} // namespace vorn
