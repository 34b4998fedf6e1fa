#pragma once
// The help's two columns, lined up by the characters a terminal shows and
// not by bytes: a Slovak word with "É" or "Ľ" in the left column takes one
// column per letter, as every other word does.

#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

namespace vrindel::cli {

class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option(const CLI::Option* opt, bool isPositional) const override {
        return row(make_option_name(opt, isPositional) + make_option_opts(opt), make_option_desc(opt));
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return row(sub->get_display_name(true), sub->get_description());
    }

    // The characters of UTF-8 text: every byte but a continuation byte.
    static std::size_t columns(const std::string& text) {
        std::size_t n = 0;
        for (const char c : text)
            n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return n;
    }

private:
    std::string row(const std::string& left, const std::string& description) const {
        const std::string name = "  " + left;
        const std::size_t width = get_column_width();
        const std::string indent(width, ' ');
        std::string out = name;
        const std::size_t used = columns(name);
        if (!description.empty()) {
            if (used >= width)
                out += "\n" + indent;
            else
                out += std::string(width - used, ' ');
            for (const char c : description) {
                out += c;
                if (c == '\n')
                    out += indent;
            }
        } else if (used < width) {
            out += std::string(width - used, ' ');
        }
        return out + "\n";
    }
};

}  // namespace vrindel::cli
