#include "bench/bench_tree.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorn::bench {

namespace {

// What each file of the tree is, chosen from its number so that a tree is always the same.
enum class Kind { SoundJpeg, NoStart, NoEnd, TooShort, Text, Png };

Kind KindOf(int index) {
    switch (index % 50) {
    case 7:
    case 31:
        return Kind::NoStart;
    case 13:
    case 44:
        return Kind::NoEnd;
    case 29:
        return Kind::TooShort;
    case 3:
    case 23:
        return Kind::Text;
    case 17:
        return Kind::Png;
    default:
        return Kind::SoundJpeg;
    }
}

// Names such as photo folders hold: camera numbers, words, case and punctuation mixed.
std::string FileName(int index, Kind kind) {
    static const char* const kStems[] = {"IMG_",     "img",    "DSC",   "Photo ",
                                         "holiday-", "co-op ", "Scan_", "\xC3\xA9t\xC3\xA9 "};
    static const char* const kJpegExtensions[] = {".jpg", ".JPG", ".jpeg", ".Jpg"};
    std::string name = kStems[index % 8] + std::to_string(index);
    switch (kind) {
    case Kind::Text:
        return name + ".txt";
    case Kind::Png:
        return name + ".png";
    default:
        return name + kJpegExtensions[(index / 8) % 4];
    }
}

std::string Content(int index, Kind kind) {
    // A body of some hundred bytes, so that the start and the end lie in different places.
    std::string body(100 + index % 300, static_cast<char>(index & 0x7F));
    switch (kind) {
    case Kind::SoundJpeg:
        return "\xFF\xD8" + body + "\xFF\xD9";
    case Kind::NoStart:
        return std::string("\x00\xD8", 2) + body + "\xFF\xD9";
    case Kind::NoEnd:
        return "\xFF\xD8" + body + "\xFF\xD8";
    case Kind::TooShort:
        return "\xFF";
    case Kind::Text:
        return "notes " + std::to_string(index) + "\n";
    case Kind::Png:
        return "\x89PNG\r\n\x1A\n" + body;
    }
    return {};
}

void WriteFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
    const ssize_t written = ::write(fd, content.data(), content.size());
    ::close(fd);
    if (written != static_cast<ssize_t>(content.size())) {
        throw std::runtime_error("cannot write " + path);
    }
}

void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
}

std::string ReadSmallFile(const std::string& path) {
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return content;
    }
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        content.assign(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

bool IsEmptyFolder(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

bool IsJpegName(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && (::strcasecmp(dot, ".jpg") == 0 || ::strcasecmp(dot, ".jpeg") == 0);
}

// The two ends of a JPEG file, read the plain way.
bool SoundJpeg(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    unsigned char start[2] = {};
    unsigned char end[2] = {};
    const bool sound = ::read(fd, start, 2) == 2 && start[0] == 0xFF && start[1] == 0xD8 &&
                       ::lseek(fd, -2, SEEK_END) >= 0 && ::read(fd, end, 2) == 2 &&
                       end[0] == 0xFF && end[1] == 0xD9;
    ::close(fd);
    return sound;
}

// Counts the tree; with `found`, collects the JPEG files there instead of checking them, and
// takes each entry's type from the listing where it gives one: a stat of every file would read
// its inode ahead, untimed, and leave the timed check of the list less to do than a program's.
void Walk(const std::string& folder, TreeCounts& counts, std::vector<std::string>* found) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        const std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        if (found != nullptr && (entry->d_type == DT_REG || entry->d_type == DT_DIR)) {
            info.st_mode = entry->d_type == DT_DIR ? S_IFDIR : S_IFREG;
        } else if (::stat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            Walk(path, counts, found);
            continue;
        }
        ++counts.files;
        if (IsJpegName(entry->d_name)) {
            ++counts.jpegs;
            if (found != nullptr) {
                found->push_back(path);
            } else if (!SoundJpeg(path)) {
                ++counts.errors;
            }
        }
    }
    ::closedir(dir);
}

constexpr const char* kShapeFile = "/.vorn-bench-tree";

} // namespace

TreeCounts MakeBenchTree(const std::string& root, int folders, int filesPerFolder) {
    TreeCounts counts;
    for (int i = 0; i < folders * filesPerFolder; ++i) {
        const Kind kind = KindOf(i);
        ++counts.files;
        if (kind != Kind::Text && kind != Kind::Png) {
            ++counts.jpegs;
            counts.errors += kind != Kind::SoundJpeg;
        }
    }
    ++counts.files; // the shape file

    const std::string shape = std::to_string(folders) + " " + std::to_string(filesPerFolder) + "\n";
    MakeFolder(root);
    const std::string madeShape = ReadSmallFile(root + kShapeFile);
    if (madeShape == shape) {
        return counts;
    }
    if (!madeShape.empty()) {
        // A tree of another shape: made anew, so that no file of it is left over.
        RemoveTree(root);
        MakeFolder(root);
    } else if (!IsEmptyFolder(root)) {
        // Never write into, or later remove, a folder of someone's own files.
        throw std::runtime_error(root + " is not empty and holds no benchmark tree");
    }
    for (int folder = 0; folder < folders; ++folder) {
        // Folder names that do not sort the same by bytes and by the path order.
        const std::string folderPath =
            root + "/" + (folder % 2 != 0 ? "Album " : "album-") + std::to_string(folder);
        MakeFolder(folderPath);
        for (int file = 0; file < filesPerFolder; ++file) {
            const int index = folder * filesPerFolder + file;
            const Kind kind = KindOf(index);
            WriteFile(folderPath + "/" + FileName(index, kind), Content(index, kind));
        }
    }
    // Written last: a tree whose making was cut short is made again next time.
    WriteFile(root + kShapeFile, shape);
    return counts;
}

BenchOptions ParseBenchOptions(int argc, char** argv, const ExtraOptions& extra) {
    BenchOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (const auto flag = extra.flags.find(name); flag != extra.flags.end()) {
            *flag->second = true;
            continue;
        }
        if (i + 1 >= argc) {
            throw UsageError();
        }
        const char* value = argv[++i];
        if (name == "--tree") {
            options.tree = value;
        } else if (name == "--folders") {
            options.folders = std::atoi(value);
        } else if (name == "--files") {
            options.files = std::atoi(value);
        } else if (name == "--runs") {
            options.runs = std::atoi(value);
        } else if (const auto other = extra.values.find(name); other != extra.values.end()) {
            *other->second = value;
        } else {
            throw UsageError();
        }
    }
    if (options.folders < 1 || options.files < 1 || options.runs < 1) {
        throw UsageError();
    }
    return options;
}

TreeFolder::TreeFolder(BenchOptions& options) {
    if (!options.tree.empty()) {
        MakeFolder(options.tree);
        return;
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/vorn-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder for the tree");
    }
    options.tree = m_temporary = pattern;
}

TreeFolder::~TreeFolder() {
    if (!m_temporary.empty()) {
        RemoveTree(m_temporary);
    }
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int BenchMain(const char* name, const char* usage, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError&) {
        std::fprintf(stderr, "usage: %s\n", usage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}

TreeCounts ReferenceLoop(const std::string& root) {
    TreeCounts counts;
    Walk(root, counts, nullptr);
    return counts;
}

std::vector<std::string> ListJpegFiles(const std::string& root) {
    TreeCounts counts;
    std::vector<std::string> files;
    Walk(root, counts, &files);
    return files;
}

std::size_t CheckInParallel(const std::vector<std::string>& files, int threads) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> damaged{0};
    std::vector<std::thread> pool;
    for (int i = 0; i < std::max(threads, 1); ++i) {
        pool.emplace_back([&] {
            for (std::size_t at = next++; at < files.size(); at = next++) {
                damaged += SoundJpeg(files[at]) ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    return damaged;
}

void RemoveTree(const std::string& root) {
    DIR* dir = ::opendir(root.c_str());
    if (dir != nullptr) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
        for (const std::string& name : names) {
            const std::string path = root + "/" + name;
            struct stat info {};
            if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
                RemoveTree(path);
            } else {
                ::unlink(path.c_str());
            }
        }
    }
    ::rmdir(root.c_str());
}

} // namespace vorn::bench
