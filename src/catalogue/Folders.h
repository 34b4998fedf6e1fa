#pragma once
// Where a catalogue is when nobody names its folder: the same rule for the
// window and for vrindel-cli, so that both find the records the other wrote.

#include <optional>
#include <string>

namespace vrindel {

// The folder of the catalogue the desktop menu's window works on. A
// catalogue kept in the home folder before (~/Zoznam.dat) stays there, so
// that nobody's records seem to vanish; otherwise the catalogue has a folder
// of its own, $XDG_DATA_HOME/vrindel (~/.local/share/vrindel), which
// `create` says may still have to be made.
struct MenuFolder {
    std::string path;
    bool create = false;
};
MenuFolder menuFolder(const std::string& home, const std::string& dataHome);
// With the XDG data folder found by `dataHome`, as vrindel-cli finds it.
MenuFolder menuFolder(const std::string& home);

// The XDG data folder by the base directories' rules: $XDG_DATA_HOME when it
// is absolute, a relative or empty one ignored, else ~/.local/share. The
// window asks Qt instead, which must come to the same folder.
std::string dataHome(const std::string& home);

// The home folder as the environment gives it, else as the user database does.
std::string homeFolder();

// The folder VRINDEL_DIR names, the default of both programs when neither a
// folder nor the menu's catalogue is asked for; none when it is unset or empty.
std::optional<std::string> defaultFolder();

// Every missing folder on the way made, private to the user as the XDG base
// directories are meant to be.
void createFolders(const std::string& path);

}  // namespace vrindel
