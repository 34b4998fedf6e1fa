#include "store/held/HeldFile.h"
#include "store/io/Retry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <utility>
#include <vector>

namespace vrindel {

namespace {

// The kernel's own limit of links on one path.
constexpr int MaxLinks = 40;

// Folders are opened only to be walked through and named relative to:
// O_PATH needs no read access, so a folder of mode 0300 is held as well.
int openFolder(int dir, const char* name) {
    return retryInterrupted([&] { return ::openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW); });
}

void replaceFd(int& fd, int next) {
    if (fd >= 0)
        ::close(fd);
    fd = next;
}

void pushPath(std::deque<std::string>& parts, const std::string& path) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string::npos)
            slash = path.size();
        std::string part = path.substr(at, slash - at);
        if (!part.empty() && part != ".")
            found.push_back(std::move(part));
        at = slash + 1;
    }
    parts.insert(parts.begin(), found.begin(), found.end());
}

// The rule of fs.protected_symlinks, for every follower, with the world-
// writable folders included whether or not they are sticky.
bool mayFollow(int dir, const struct ::stat& link) {
    struct ::stat folder{};
    if (::fstat(dir, &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) || (folder.st_mode & S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

}  // namespace

HeldFile::~HeldFile() {
    if (folder_ >= 0)
        ::close(folder_);
}

HeldFile::HeldFile(HeldFile&& other) noexcept
    : folder_(std::exchange(other.folder_, -1)),
      device_(other.device_),
      inode_(other.inode_),
      leaf_(std::move(other.leaf_)),
      error_(other.error_),
      followedLink_(other.followedLink_),
      refusedLink_(other.refusedLink_) {}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
    if (this != &other) {
        replaceFd(folder_, std::exchange(other.folder_, -1));
        device_ = other.device_;
        inode_ = other.inode_;
        leaf_ = std::move(other.leaf_);
        error_ = other.error_;
        followedLink_ = other.followedLink_;
        refusedLink_ = other.refusedLink_;
    }
    return *this;
}

HeldFile HeldFile::resolve(FileSystem& fs, const std::string& name) {
    HeldFile held;
    auto fail = [&](int err) {
        replaceFd(held.folder_, -1);
        held.error_ = err;
        return std::move(held);
    };
    if (name.empty())
        return fail(ENOENT);

    int dir = openFolder(AT_FDCWD, name[0] == '/' ? "/" : ".");
    if (dir < 0)
        return fail(errno);
    held.folder_ = dir;
    std::deque<std::string> parts;
    pushPath(parts, name);
    if (parts.empty())
        return fail(EISDIR);
    int links = 0;
    while (!parts.empty()) {
        std::string part = std::move(parts.front());
        parts.pop_front();
        const bool last = parts.empty();
        if (part == ".." && !last) {
            const int up = openFolder(held.folder_, "..");
            if (up < 0)
                return fail(errno);
            replaceFd(held.folder_, up);
            continue;
        }
        struct ::stat st{};
        if (retryInterrupted([&] { return fs.lstat(held.folder_, part, &st); }) != 0) {
            // Nothing at the last name: the file is made there.
            if (last && errno == ENOENT) {
                held.leaf_ = std::move(part);
                break;
            }
            return fail(errno);
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > MaxLinks)
                return fail(ELOOP);
            if (!mayFollow(held.folder_, st)) {
                held.refusedLink_ = true;
                return fail(EACCES);
            }
            std::vector<char> target(4096);
            const ssize_t n =
                retryInterrupted([&] { return fs.readlink(held.folder_, part, target.data(), target.size()); });
            if (n < 0)
                return fail(errno);
            if (std::size_t(n) >= target.size())
                return fail(ENAMETOOLONG);
            const std::string next(target.data(), std::size_t(n));
            if (next.empty())
                return fail(ENOENT);
            if (next[0] == '/') {
                const int root = openFolder(AT_FDCWD, "/");
                if (root < 0)
                    return fail(errno);
                replaceFd(held.folder_, root);
            }
            held.followedLink_ = true;
            pushPath(parts, next);
            if (parts.empty())   // a link to "/" or "."
                return fail(EISDIR);
            continue;
        }
        if (last) {
            held.leaf_ = std::move(part);
            break;
        }
        const int down = openFolder(held.folder_, part.c_str());
        if (down < 0)
            return fail(errno);
        replaceFd(held.folder_, down);
    }
    struct ::stat folder{};
    if (::fstat(held.folder_, &folder) != 0)
        return fail(errno);
    held.device_ = folder.st_dev;
    held.inode_ = folder.st_ino;
    return held;
}

bool HeldFile::leadsNowhere() const {
    return refusedLink_ || error_ == ELOOP || (followedLink_ && (error_ == ENOENT || error_ == ENOTDIR));
}

bool HeldFile::sameAs(const HeldFile& other) const {
    return error_ == 0 && other.error_ == 0 && device_ == other.device_ && inode_ == other.inode_ &&
           leaf_ == other.leaf_;
}

}  // namespace vrindel
