#include "Messages.h"

#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <system_error>

#ifndef VRINDEL_LOCALEDIR
#define VRINDEL_LOCALEDIR "/usr/share/locale"
#endif

namespace vrindel::cli {

namespace {
constexpr const char* Domain = "vrindel-cli";
}

void startMessages() {
    // Only the language and the characters: numbers, collation and the
    // rest stay C, so that nothing the program writes for other programs
    // (CSV, JSON) changes with the user's locale.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    std::error_code ignored;
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().parent_path() / "share/locale";
    ::bindtextdomain(Domain, std::filesystem::is_directory(beside, ignored) ? beside.c_str() : VRINDEL_LOCALEDIR);
    ::bind_textdomain_codeset(Domain, "UTF-8");
    ::textdomain(Domain);
}

std::string reason(const IoError& error) {
    // The file layer's texts are in the catalogue; a code it has no text
    // for comes as "I/O error N".
    if (std::string(error.what()) == "I/O error " + std::to_string(error.code()))
        return tr("I/O error {0}", error.code());
    // The places it tried follow the text.
    if (error.code() == io::JournalNotWritten) {
        const std::string text = error.what(), plain = ioErrorText(io::JournalNotWritten);
        if (text.starts_with(plain))
            return ::gettext(plain.c_str()) + text.substr(plain.size());
    }
    return ::gettext(error.what());
}

std::string filled(const char* translated, const char* original, fmt::format_args values) {
    try {
        return fmt::vformat(translated, values);
    } catch (const fmt::format_error&) {
        return fmt::vformat(original, values);
    }
}

}  // namespace vrindel::cli
