// Arbitrary bytes as "Options.dat": the switches are set in file order from
// as many bytes as there are (three at most), the others keep their value,
// and a save then load gives back the same switches in exactly three bytes.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/format/CatalogueFiles.h"
#include "FuzzSupport.h"

using namespace vrindel;
using vrindel::fuzz::check;

namespace {

struct Read {
    Switches switches{true, true, true};   // as the window starts: all on
    std::vector<std::pair<Switch, bool>> set;
};

Read load(const std::string& path) {
    FileVar file;
    file.assign(path);
    Read read;
    readOptions(file, [&](Switch s, bool on) {
        read.set.emplace_back(s, on);
        switch (s) {
        case Switch::Zoradit: read.switches.zoradit = on; break;
        case Switch::DelPlaceBox: read.switches.delPlaceBox = on; break;
        case Switch::DelExt: read.switches.delExt = on; break;
        }
    });
    check(!file.isOpen(), "the options file was left open");
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::scratch().file(OptionsFileName);
    const std::string saved = fuzz::scratch().file("SavedOptions.dat");
    fuzz::putBytes(input, data, size);

    const Switch order[] = {Switch::Zoradit, Switch::DelPlaceBox, Switch::DelExt};
    Read first = load(input);
    check(first.set.size() == std::min<std::size_t>(size, 3), "not every present switch byte was read");
    for (std::size_t i = 0; i < first.set.size(); ++i) {
        check(first.set[i].first == order[i], "the switches were set out of order");
        check(first.set[i].second == (data[i] != 0), "a switch differs from its byte");
    }

    {
        FileVar file;
        file.assign(saved);
        saveOptions(file, first.switches);
    }
    auto bytes = fuzz::getBytes(saved);
    check(bytes.has_value(), "the saved options file is missing");
    const std::string expected{char(first.switches.zoradit), char(first.switches.delPlaceBox), char(first.switches.delExt)};
    check(*bytes == expected, "the saved options are not three bytes of 0 and 1");

    Read second = load(saved);
    check(second.set.size() == 3, "a saved options file does not set all three switches");
    check(second.switches.zoradit == first.switches.zoradit && second.switches.delPlaceBox == first.switches.delPlaceBox &&
              second.switches.delExt == first.switches.delExt,
          "the switches changed through save and load");
    return 0;
}
