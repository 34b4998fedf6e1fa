#include "VolumeLabel.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>
#include <type_traits>
#include <vector>

namespace vrindel::cli {

namespace {

namespace fs = std::filesystem;

struct Mount {
    dev_t device = 0;
    std::string point;
    std::string type;
    std::string source;
};

// mountinfo writes a space, a tab, a line break and a backslash in a field
// as \040, \011, \012 and \134.
std::string unescapeOctal(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + long(i) + 1, field.begin() + long(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += char(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<Mount> mounts() {
    std::vector<Mount> found;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point, options, field;
        if (!(fields >> id >> parent >> numbers >> root >> point >> options))
            continue;
        while (fields >> field && field != "-") {
        }
        Mount mount;
        unsigned major = 0, minor = 0;
        if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2 || !(fields >> mount.type >> mount.source))
            continue;
        mount.device = makedev(major, minor);
        mount.point = unescapeOctal(point);
        mount.source = unescapeOctal(mount.source);
        found.push_back(std::move(mount));
    }
    return found;
}

// The mount the folder is on: the one of its device, the last mounted where
// there are several; else (btrfs gives each subvolume a number of its own)
// the one whose mount point is the longest start of the folder's path.
std::optional<Mount> mountOf(const std::string& dir, dev_t device) {
    const std::vector<Mount> all = mounts();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->device == device)
            return *it;
    std::error_code ec;
    const std::string path = fs::canonical(dir, ec).string();
    if (ec)
        return std::nullopt;
    std::optional<Mount> best;
    for (const Mount& mount : all) {
        const bool under = path == mount.point || mount.point == "/" ||
                           (path.compare(0, mount.point.size(), mount.point) == 0 && path[mount.point.size()] == '/');
        if (under && (!best || mount.point.size() >= best->point.size()))
            best = mount;
    }
    return best;
}

// What libblkid reads from the file or device itself; none where it may not
// be opened.
std::optional<std::string> probedLabel(const std::string& path) {
    const std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)> probe(
        blkid_new_probe_from_filename(path.c_str()), blkid_free_probe);
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL);
    const char* value = nullptr;
    std::size_t length = 0;
    if (blkid_do_safeprobe(probe.get()) == 0 && blkid_probe_lookup_value(probe.get(), "LABEL", &value, &length) == 0)
        return std::string(value, ::strnlen(value, length));
    return std::string();
}

// What libblkid last read from the device, as root, kept in its cache.
std::string cachedLabel(const std::string& device) {
    char* value = blkid_get_tag_value(nullptr, "LABEL", device.c_str());
    std::string label = value ? value : "";
    std::free(value);
    return label;
}

// A label as udev writes it into a link's name: "\x20" for a space and
// every byte that a file name should not hold.
std::string unescapeUdev(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            out += char(std::stoi(name.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::string linkedLabel(dev_t device) {
    std::error_code ec;
    for (const auto& link : fs::directory_iterator("/dev/disk/by-label", ec)) {
        struct stat st {};
        if (::stat(link.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device)
            return unescapeUdev(link.path().filename().string());
    }
    return {};
}

std::string firstLine(const std::string& path, const std::string& key) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return {};
}

// Whether a FUSE daemon's arguments name the mount point: older kernels do
// not tell which connection a /dev/fuse descriptor serves, and a
// daemon has moved to "/" by the time anyone looks, so a relative mount point
// is matched by its end.
bool namesMountPoint(const std::string& pid, const std::string& point) {
    std::ifstream in("/proc/" + pid + "/cmdline");
    for (std::string argument; std::getline(in, argument, '\0');) {
        while (argument.size() > 1 && argument.back() == '/')
            argument.pop_back();
        if (argument.empty())
            continue;
        if (argument == point || (argument[0] != '/' && point.size() > argument.size() &&
                                  point.compare(point.size() - argument.size(), argument.size(), argument) == 0 &&
                                  point[point.size() - argument.size() - 1] == '/'))
            return true;
    }
    return false;
}

// The files and block devices the FUSE daemon of `mount` holds open, by
// their /proc names, which reach them even when moved or deleted.
std::vector<std::string> daemonFiles(const Mount& mount) {
    // The connection's number as the kernel counts a device.
    const std::string connection = std::to_string((std::uint64_t(major(mount.device)) << 20) | minor(mount.device));
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        bool serves = false;
        std::vector<std::string> files;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            struct stat st {};
            if (::stat(fd.path().c_str(), &st) != 0)
                continue;
            if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) {
                files.push_back(fd.path().string());
            } else if (S_ISCHR(st.st_mode) && fs::read_symlink(fd.path(), fdError) == "/dev/fuse") {
                const std::string said = firstLine(
                    (process.path() / "fdinfo" / fd.path().filename()).string(), "fuse_connection:");
                const std::size_t digits = said.find_first_not_of(" \t");
                serves = serves || (digits != std::string::npos ? said.substr(digits) == connection
                                                                : namesMountPoint(pid, mount.point));
            }
        }
        if (serves)
            return files;
    }
    return {};
}

}  // namespace

std::string volumeLabel(const std::string& dir) {
    struct stat folder {};
    if (::stat(dir.c_str(), &folder) != 0)
        return {};
    const std::optional<Mount> mount = mountOf(dir, folder.st_dev);

    // What may hold the filesystem, in the order it is believed.
    std::vector<std::string> holders;
    struct stat source {};
    const bool named = mount && !mount->source.empty() && mount->source[0] == '/' &&
                       ::stat(mount->source.c_str(), &source) == 0 &&
                       (S_ISBLK(source.st_mode) || S_ISREG(source.st_mode));
    if (named)
        holders.push_back(mount->source);
    if (major(folder.st_dev) != 0 && !(named && S_ISBLK(source.st_mode) && source.st_rdev == folder.st_dev)) {
        if (char* name = blkid_devno_to_devname(folder.st_dev)) {
            holders.emplace_back(name);
            std::free(name);
        }
    } else if (!named && mount && mount->type.compare(0, 4, "fuse") == 0) {
        holders = daemonFiles(*mount);
    }

    bool refused = false;
    for (const std::string& holder : holders) {
        const std::optional<std::string> label = probedLabel(holder);
        if (label && !label->empty())
            return *label;
        refused = refused || !label;
    }
    if (refused)
        for (const std::string& holder : holders)
            if (std::string label = cachedLabel(holder); !label.empty())
                return label;
    return linkedLabel(folder.st_dev);
}

}  // namespace vrindel::cli
