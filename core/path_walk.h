#pragma once
// The walk that turns a path list into JPEG files the way the file list takes them: each path in
// list order; a folder (a link to one too) has its entries listed, sorted in path order and
// walked in turn, depth first; a file with a ".jpg" or ".jpeg" extension that is not listed yet
// is taken once; anything else is skipped without a word. A folder that is already being walked
// (same device and inode) is not entered again, so a link that leads back to one of its own
// ancestors ends the walk there instead of looping until the path grows too long.

#include <cstddef>
#include <string>
#include <vector>

#include "core/file_system.h"

namespace vorn {

class PathCollator;

class PathWalk {
public:
    // What the walk asks and tells while it runs. Every method but IsListed and Take has a
    // default that does nothing.
    class Visitor {
    public:
        virtual ~Visitor() = default;
        // True when `path` is already listed: it is then skipped.
        virtual bool IsListed(const std::string& path) = 0;
        // A file that passed every test: list it.
        virtual void Take(const std::string& path) = 0;
        // A path list (the top one, or a folder's sorted entries) starts and ends.
        virtual void ListStarted(std::size_t count) { (void)count; }
        virtual void ListEnded() {}
        // A path of the current list has been handled (taken, walked or skipped).
        virtual void PathHandled(const std::string& path) { (void)path; }
        // Asked before each path: true ends the walk (every open list still ends).
        virtual bool Stopped() { return false; }
    };

    PathWalk(Visitor& visitor, const PathCollator& collator);

    // Walks `paths` in order; the list is read, never changed.
    void Walk(const std::vector<std::string>& paths);

private:
    void WalkPath(const std::string& path);
    void WalkFolder(const std::string& path, const FolderIdentity& identity);

    Visitor& m_visitor;
    const PathCollator& m_collator;
    std::vector<FolderIdentity> m_foldersBeingWalked;
};

} // namespace vorn
