#include "Folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "store/format/Format.h"

namespace vrindel {

MenuFolder menuFolder(const std::string& home, const std::string& dataHome) {
    struct stat st {};
    if (::lstat((home + "/" + ListFileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return {home, false};
    return {dataHome + "/vrindel", true};
}

MenuFolder menuFolder(const std::string& home) { return menuFolder(home, dataHome(home)); }

std::string dataHome(const std::string& home) {
    const char* named = std::getenv("XDG_DATA_HOME");
    // The XDG rules: a relative value is to be ignored.
    if (named && named[0] == '/')
        return named;
    return home + "/.local/share";
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return "/";
}

std::optional<std::string> defaultFolder() {
    const char* named = std::getenv("VRINDEL_DIR");
    if (!named || !*named)
        return std::nullopt;
    return std::string(named);
}

void createFolders(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        (void)::mkdir(path.substr(0, end).c_str(), 0700);
        if (end == std::string::npos)
            break;
    }
}

}  // namespace vrindel
