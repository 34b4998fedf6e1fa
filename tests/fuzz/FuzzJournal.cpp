// Arbitrary bytes as a rollback journal beside a catalogue. An input that
// starts like a journal gets this catalogue's path, device and inode and a
// checksum that holds, so that the segments behind it are what is tried.
// Whatever the bytes, the opening never reads or grows past what the
// journal and the file hold, and either leaves the catalogue byte for byte
// as it was (and the journal where it was, when it refused it), or puts it
// back to the length the journal names.

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "store/held/HeldFile.h"
#include "store/io/ContentHash.h"
#include "store/io/ThisComputer.h"
#include "store/journal/RollbackJournal.h"
#include "FuzzSupport.h"

using namespace vrindel;
using vrindel::fuzz::check;

namespace {

std::string catalogueBytes() {
    std::string bytes;
    for (int i = 0; i < 12; ++i) {
        char record[32] = {};
        record[0] = char(std::snprintf(record + 1, sizeof record - 1, i % 2 ? "Miesto %d" : "Meno %d", i));
        bytes.append(record, sizeof record);
    }
    return bytes;
}

std::uint64_t u64(const std::string& s, std::size_t at) {
    std::uint64_t v = 0;
    std::memcpy(&v, s.data() + at, 8);
    return v;
}
void setU64(std::string& s, std::size_t at, std::uint64_t v) { std::memcpy(s.data() + at, &v, 8); }

// Checksums that hold for every segment the input lays out, and a digest of
// the catalogue's untouched part where the input leaves it 0.
std::string withSums(std::string rest, char version, const std::string& file) {
    for (std::size_t at = 0;;) {
        if (version == '1') {
            if (rest.size() - at < 16)
                break;
            const std::uint64_t length = u64(rest, at + 8);
            if (length > rest.size() - at - 16 || rest.size() - at - 16 - length < 8)
                break;
            setU64(rest, at + 16 + length, ContentHash::of(rest.data() + at, 16 + length));
            at += 16 + length + 8;
            continue;
        }
        if (rest.size() - at < 24)
            break;
        const std::uint64_t tag = u64(rest, at), offset = u64(rest, at + 8), length = u64(rest, at + 16);
        const std::size_t head = tag == 1 ? 32 : 24;
        if (rest.size() - at < head || length > rest.size() - at - head || rest.size() - at - head - length < 8)
            break;
        if (tag == 1 && u64(rest, at + 24) == 0 && offset <= file.size())
            setU64(rest, at + 24, ContentHash::of(file.data(), offset));
        setU64(rest, at + head + length, ContentHash::of(rest.data() + at, head + length));
        at += head + length + 8;
    }
    return rest;
}

// A header that names this file, with the input's lengths and segments.
std::string aimed(std::string input, const struct ::stat& st, const std::string& path, const std::string& file) {
    if (input.size() < 36 || input.compare(0, 6, "VRJRNL") != 0)
        return input;
    std::uint32_t pathLength = 0;
    std::memcpy(&pathLength, input.data() + 32, 4);
    const std::size_t extra = input[6] == '2' ? 8 : 0;
    if (pathLength > input.size() - 36 || input.size() - 36 - pathLength < extra + 8)
        return input;
    const std::string rest = withSums(input.substr(36 + pathLength + extra + 8), input[6], file);
    std::string out = input.substr(0, 8);
    const std::uint64_t device = st.st_dev, inode = st.st_ino;
    out.append(reinterpret_cast<const char*>(&device), 8);
    out.append(reinterpret_cast<const char*>(&inode), 8);
    out.append(input, 24, 8);
    const auto length = std::uint32_t(path.size());
    out.append(reinterpret_cast<const char*>(&length), 4);
    out += path;
    out.append(input, 36 + pathLength, extra);
    const std::uint64_t sum = ContentHash::of(out.data(), out.size());
    out.append(reinterpret_cast<const char*>(&sum), 8);
    return out + rest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string list = fuzz::scratch().file("Zoznam.dat");
    const std::string original = catalogueBytes();
    fuzz::putBytes(list, reinterpret_cast<const unsigned char*>(original.data()), original.size());
    struct ::stat st{};
    check(::stat(list.c_str(), &st) == 0, "the catalogue is missing");
    const std::string path = std::filesystem::canonical(list).string();
    const std::string journal = fuzz::scratch().file("Zoznam.dat.") + machineTag() + "." + std::to_string(st.st_dev) +
                                "-" + std::to_string(st.st_ino) + ".journal";
    const std::string input = aimed(std::string(reinterpret_cast<const char*>(data), size), st, path, original);
    fuzz::putBytes(journal, reinterpret_cast<const unsigned char*>(input.data()), input.size());
    ::chmod(journal.c_str(), 0600);

    FileSystem& fs = systemFileSystem();
    const JournalRecovery found = recoverFromJournal(fs, HeldFile::resolve(fs, list));
    const auto now = fuzz::getBytes(list);
    check(now.has_value(), "the catalogue went");
    check(!found.stuck, "a journal it could read was not applied nor refused");
    if (!found.refused.empty()) {
        check(*now == original, "a refused journal changed the catalogue");
        check(std::filesystem::exists(journal), "a refused journal was removed");
    } else if (found.rolledBack) {
        check(now->size() <= original.size() + input.size(), "put back larger than the journal justifies");
        check(!std::filesystem::exists(journal), "an applied journal stayed");
    } else {
        check(*now == original, "a journal neither applied nor refused changed the catalogue");
    }
    std::filesystem::remove(journal);
    return 0;
}
