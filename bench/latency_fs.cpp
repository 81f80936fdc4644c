// A read-only pass-through file system whose requests wait a set time, as those of a file server
// on a network do: getattr, readdir, open and read each wait the delay on one of many threads, so
// that requests made in parallel overlap as they would on a share. Lookups do not wait: this
// kernel serialises the lookups of one folder, which no network client does, and a delayed lookup
// would measure that instead of the program.
//
//   vorn_latency_fs [--delay-us N] [--threads N] [--cache-s N] SOURCE MOUNTPOINT
//
// Runs in the foreground until the mount point is unmounted (fusermount3 -u MOUNTPOINT). The
// benchmarks start and stop it through bench/latency_mount.h.

#define FUSE_USE_VERSION 312

#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct Settings {
    std::chrono::microseconds delay{1000};
    unsigned threads = 10;    // requests served at once, as a server's slots
    double cacheSeconds = 60; // how long the kernel may keep names and attributes
};

// Every object the kernel has been told of, kept until the unmount: the benchmark trees are
// small and do not change while mounted, so forgetting nodes would buy nothing.
class NodeTable {
public:
    explicit NodeTable(std::string root) { m_paths.push_back(std::move(root)); }

    // The source path of inode `ino`, or an empty string for one never handed out.
    std::string PathOf(fuse_ino_t ino) const {
        std::shared_lock lock(m_mutex);
        return ino >= 1 && ino <= m_paths.size() ? m_paths[ino - 1] : std::string();
    }

    // The inode of the source object `info` describes, numbered on first sight; hard links
    // share one inode, as in the source.
    fuse_ino_t InodeOf(const std::string& path, const struct stat& info) {
        const std::pair<dev_t, ino_t> key{info.st_dev, info.st_ino};
        std::unique_lock lock(m_mutex);
        const auto [it, inserted] = m_inodes.try_emplace(key, m_paths.size() + 1);
        if (inserted) {
            m_paths.push_back(path);
        }
        return it->second;
    }

private:
    mutable std::shared_mutex m_mutex;
    std::vector<std::string> m_paths; // inode i is m_paths[i - 1]; the root is inode 1
    std::map<std::pair<dev_t, ino_t>, fuse_ino_t> m_inodes;
};

struct FileSystem {
    Settings settings;
    std::unique_ptr<NodeTable> nodes;
};

FileSystem& Fs(fuse_req_t req) {
    return *static_cast<FileSystem*>(fuse_req_userdata(req));
}

void Wait(fuse_req_t req) {
    std::this_thread::sleep_for(Fs(req).settings.delay);
}

// Attributes as the kernel sees them: the source's, under this file system's inode number.
bool Attributes(const std::string& path, fuse_ino_t ino, struct stat& info) {
    if (path.empty() || ::lstat(path.c_str(), &info) != 0) {
        return false;
    }
    info.st_ino = ino;
    return true;
}

// A folder's entries, read whole at opendir so that readdir can resume at any offset. Each
// carries the inode number a lookup of it gives (a listing whose numbers are zero is skipped by
// the C library's readdir).
struct FolderListing {
    struct Entry {
        std::string name;
        mode_t type = 0;
        fuse_ino_t ino = 0;
    };
    std::vector<Entry> entries;
};

void Init(void*, fuse_conn_info* conn) {
    // The read of a small file comes as readahead, a background request, of which the kernel
    // sends only a dozen at once by default; the threads, not that limit, set the parallelism.
    conn->max_background = 64;
    conn->congestion_threshold = 48;
    conn->want &= ~FUSE_CAP_READDIRPLUS;
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    FileSystem& fs = Fs(req);
    const std::string folder = fs.nodes->PathOf(parent);
    if (folder.empty()) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    const std::string path = folder + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param entry{};
    entry.ino = fs.nodes->InodeOf(path, info);
    entry.attr = info;
    entry.attr.st_ino = entry.ino;
    entry.attr_timeout = fs.settings.cacheSeconds;
    entry.entry_timeout = fs.settings.cacheSeconds;
    fuse_reply_entry(req, &entry);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    Wait(req);
    struct stat info {};
    if (!Attributes(Fs(req).nodes->PathOf(ino), ino, info)) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    fuse_reply_attr(req, &info, Fs(req).settings.cacheSeconds);
}

void ReadLink(fuse_req_t req, fuse_ino_t ino) {
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(Fs(req).nodes->PathOf(ino).c_str(), target, PATH_MAX);
    if (n < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    target[n] = '\0';
    fuse_reply_readlink(req, target);
}

void OpenDir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    DIR* dir = ::opendir(Fs(req).nodes->PathOf(ino).c_str());
    if (dir == nullptr) {
        fuse_reply_err(req, errno);
        return;
    }
    auto listing = std::make_unique<FolderListing>();
    NodeTable& nodes = *Fs(req).nodes;
    const std::string folder = nodes.PathOf(ino);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            // The root's parent lies outside the tree: it is the root again, as at any mount.
            const bool self = std::strcmp(entry->d_name, ".") == 0 ||
                              (ino == FUSE_ROOT_ID && std::strcmp(entry->d_name, "..") == 0);
            const fuse_ino_t number = self ? ino : nodes.InodeOf(path, info);
            listing->entries.push_back({entry->d_name, info.st_mode & S_IFMT, number});
        }
    }
    ::closedir(dir);
    fi->fh = reinterpret_cast<uint64_t>(listing.release());
    fuse_reply_open(req, fi);
}

void ReadDir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    Wait(req);
    const auto& entries = reinterpret_cast<FolderListing*>(fi->fh)->entries;
    std::vector<char> buffer(size);
    std::size_t used = 0;
    for (std::size_t i = static_cast<std::size_t>(offset); i < entries.size(); ++i) {
        struct stat info {};
        info.st_mode = entries[i].type;
        info.st_ino = entries[i].ino;
        const std::size_t need =
            fuse_add_direntry(req, buffer.data() + used, size - used, entries[i].name.c_str(),
                              &info, static_cast<off_t>(i + 1));
        if (need > size - used) {
            break;
        }
        used += need;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void ReleaseDir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    delete reinterpret_cast<FolderListing*>(fi->fh);
    fuse_reply_err(req, 0);
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    Wait(req);
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(req, EROFS);
        return;
    }
    const int fd = ::open(Fs(req).nodes->PathOf(ino).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fi->fh = static_cast<uint64_t>(fd);
    fuse_reply_open(req, fi);
}

void Read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi) {
    Wait(req);
    std::vector<char> buffer(size);
    const ssize_t n = ::pread(static_cast<int>(fi->fh), buffer.data(), size, offset);
    if (n < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_reply_buf(req, buffer.data(), static_cast<std::size_t>(n));
}

void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    ::close(static_cast<int>(fi->fh));
    fuse_reply_err(req, 0);
}

fuse_lowlevel_ops Operations() {
    fuse_lowlevel_ops ops{};
    ops.init = Init;
    ops.lookup = Lookup;
    ops.getattr = GetAttr;
    ops.readlink = ReadLink;
    ops.opendir = OpenDir;
    ops.readdir = ReadDir;
    ops.releasedir = ReleaseDir;
    ops.open = Open;
    ops.read = Read;
    ops.release = Release;
    return ops;
}

int Usage() {
    std::fprintf(stderr, "usage: vorn_latency_fs [--delay-us N] [--threads N] [--cache-s N] "
                         "SOURCE MOUNTPOINT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    std::vector<std::string> places;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            places.push_back(arg);
            continue;
        }
        if (i + 1 >= argc) {
            return Usage();
        }
        const char* value = argv[++i];
        if (arg == "--delay-us") {
            settings.delay = std::chrono::microseconds(std::atol(value));
        } else if (arg == "--threads") {
            settings.threads = static_cast<unsigned>(std::max(1, std::atoi(value)));
        } else if (arg == "--cache-s") {
            settings.cacheSeconds = std::atof(value);
        } else {
            return Usage();
        }
    }
    if (places.size() != 2) {
        return Usage();
    }
    char* source = ::realpath(places[0].c_str(), nullptr);
    if (source == nullptr) {
        std::fprintf(stderr, "vorn_latency_fs: %s: %s\n", places[0].c_str(), std::strerror(errno));
        return 1;
    }
    FileSystem fs{settings, std::make_unique<NodeTable>(source)};
    std::free(source);

    char program[] = "vorn_latency_fs";
    char option[] = "-o";
    char mountOptions[] = "ro,default_permissions,fsname=vorn-latency,subtype=vorn-latency";
    char* fuseArgv[] = {program, option, mountOptions, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
    const fuse_lowlevel_ops ops = Operations();
    fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &fs);
    if (session == nullptr) {
        return 1;
    }
    int status = 1;
    if (fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, places[1].c_str()) == 0) {
            fuse_loop_config* loop = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(loop, settings.threads);
            fuse_loop_cfg_set_idle_threads(loop, settings.threads);
            status = fuse_session_loop_mt(session, loop) == 0 ? 0 : 1;
            fuse_loop_cfg_destroy(loop);
            fuse_session_unmount(session);
        }
        fuse_remove_signal_handlers(session);
    }
    fuse_session_destroy(session);
    fuse_opt_free_args(&args);
    return status;
}
