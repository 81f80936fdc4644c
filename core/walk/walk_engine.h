#pragma once
// The one walk-and-check engine: turns a path list into JPEG files the way the file list takes
// them, and checks them when asked, for the window, vorn-check and the benchmarks alike.
//
// The walk. Each path in list order; a folder (a link to one too) has its entries listed,
// sorted in path order and walked in turn, depth first; a file with a ".jpg" or ".jpeg"
// extension that is not listed yet is taken once; a path that names nothing, or anything else,
// is skipped without a word. A folder that is already being walked (same device and inode) is
// not entered again, so a link back to an ancestor ends there. Below the paths the caller
// names, folders on kernel pseudo file systems (proc, sysfs...) are not entered. A folder that
// cannot be listed or entered, and a path the system refuses to examine, is handed to
// Visitor::Refused instead of being skipped: nothing that may hold photos is passed over in
// silence. A named pipe, device or dangling link with a JPEG name is taken but never opened.
//
// Look-ahead. While the visitor is handed paths strictly in list order on the calling thread,
// a pool of I/O threads lists the folders that come next, examines the entries whose type the
// listing does not give (links) and checks the files that come next, with at most `window`
// requests ahead of the visitor. So the visitor sees exactly what a sequential walk gives, in
// the same order, with the same verdicts; memory is bounded by the window and the folders on
// the current path, not by the tree. Ahead-of-time work that turns out unneeded (a path the
// visitor reports as listed, a stop) is dropped. Walk returns only when every thread it
// started has ended, also when the visitor throws.
//
// The file system is asked little: an entry's type comes from the listing where it can; only
// links and entries of unknown type are examined with a stat; a folder's identity comes from
// its open descriptor, once it is listed.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/check/check_state.h"
#include "core/check/deep_check.h"
#include "core/check/file_result.h"
#include "core/check/marker_check.h"
#include "core/os/file_system.h"

namespace vorn {

class PathCollator;

// Checks the regular file at `path` and fills `result`. Runs on an I/O thread, for several
// files at once: it must be safe to call concurrently. What it throws is thrown again on the
// thread that takes its result (the visitor's walk, CheckAhead::Next).
using FileCheck = std::function<void(const std::string& path, FileResult& result)>;

class WalkEngine {
public:
    // What the engine asks and tells, always on the thread that called Walk.
    class Visitor {
    public:
        virtual ~Visitor() = default;
        // True when `path` is already listed: it is then skipped, a folder too.
        virtual bool IsListed(const std::string& path) = 0;
        // A file taken. With a check, `result` is its verdict; a named pipe, device or
        // dangling link gets OpenError without being opened. Without a check, `result` is
        // OpenError for those and means nothing for regular files.
        virtual void Take(const std::string& path, FileResult&& result) = 0;
        // A folder that cannot be listed or entered, or a path the system refuses to examine.
        // By default it is taken with the verdict OpenError.
        virtual void Refused(const std::string& path) { Take(path, FileResult{}); }
        // A path list (the caller's, or a folder's sorted entries) starts and ends. A folder
        // with no entries starts no list: it is told by EmptyFolderWalked instead.
        virtual void ListStarted(std::size_t count) { (void)count; }
        virtual void ListEnded() {}
        // A folder entered, with its sorted entries about to be handed over as a list of
        // `count` paths. By default just that list's start.
        virtual void FolderListStarted(const std::string& folder, std::size_t count) {
            (void)folder;
            ListStarted(count);
        }
        // A folder entered and listed that holds no entry at all.
        virtual void EmptyFolderWalked(const std::string& folder) { (void)folder; }
        // A path of the current list has been handled (taken, walked or skipped).
        virtual void PathHandled(const std::string& path) { (void)path; }
        // Asked before each path: true ends the walk (every open list still ends).
        virtual bool Stopped() { return false; }
        // A path of the caller's list that names nothing (paths met in folders are not told).
        virtual void NamedPathMissing(const std::string& path) { (void)path; }
        // A folder met in the walk that was not walked: refused, a loop, a pseudo file system.
        virtual void FolderNotEntered(const std::string& path) { (void)path; }
    };

    static constexpr std::size_t kDefaultThreads = 32;

    struct Options {
        // I/O threads: requests in flight at once. Sized for the latency of a cold disk or a
        // network share, not for the number of cores.
        std::size_t threads = kDefaultThreads;
        // Requests the engine may run ahead of the visitor; 0 is LookAheadWindow's default.
        std::size_t window = 0;
        // The check of each file taken; empty: files are taken unchecked.
        FileCheck check;
        // The order of a folder's entries; null: the default collator. Must outlive the walk.
        const PathCollator* collator = nullptr;
        // The folders being walked, shared with walks that enclose this one (a walk started
        // from a visitor's callback): a folder an enclosing walk is inside is not entered
        // again. Null: this walk's own.
        std::vector<FolderIdentity>* foldersBeingWalked = nullptr;
    };

    explicit WalkEngine(Options options);

    // Walks `paths` in order; the list is read, never changed.
    void Walk(const std::vector<std::string>& paths, Visitor& visitor) const;

private:
    Options m_options;
};

} // namespace vorn
