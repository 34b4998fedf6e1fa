#include "store/io/ThisComputer.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "store/io/ContentHash.h"

namespace vrindel {

namespace {

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string tagOf(const std::string& text) {
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08x", unsigned(ContentHash::of(text.data(), text.size()) & 0xFFFFFFFFu));
    return tag;
}

}  // namespace

const std::string& machineTag() {
    static const std::string tag = [] {
        std::string id = firstLine("/etc/machine-id");
        if (id.empty())
            id = firstLine("/var/lib/dbus/machine-id");
        if (id.empty()) {
            char host[256] = {};
            if (::gethostname(host, sizeof host - 1) == 0)
                id = host;
        }
        return tagOf(id);
    }();
    return tag;
}

const std::string& bootTag() {
    static const std::string tag = tagOf(firstLine("/proc/sys/kernel/random/boot_id"));
    return tag;
}

std::string computerTag() { return machineTag() + bootTag(); }

bool isComputerTag(std::string_view text) {
    if (text.size() != 16)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool madeHere(std::string_view tag) { return isComputerTag(tag) && tag.substr(0, 8) == machineTag(); }

bool madeThisBoot(std::string_view tag) { return madeHere(tag) && tag.substr(8) == bootTag(); }

}  // namespace vrindel
