#pragma once
// The program's messages in the user's language. The source holds them in
// English; gettext gives them in the language of LC_MESSAGES (or LANGUAGE)
// from the catalogues in po/. A message with values is one whole sentence
// with numbered places, `tr("{0}: cannot read: {1}", file, reason)`, so
// that a translation may put the values where its grammar wants them.

#include <libintl.h>

#include <string>

#include <fmt/format.h>

#include "Errors.h"

// A text to translate, translated here.
#define _(text) ::gettext(text)
// A text to translate, translated where it is used (an entry of a table).
#define N_(text) text

namespace vrindel::cli {

// Binds the program's catalogue: the one beside the program (a build
// tree, an installation under one prefix) before the system's.
void startMessages();

// The translation with its places filled. A translation whose places do
// not fit its values falls back to the English, never to a failure.
std::string filled(const char* translated, const char* original, fmt::format_args values);

template <typename... Values>
std::string tr(const char* text, const Values&... values) {
    return filled(::gettext(text), text, fmt::make_format_args(values...));
}

// The reason an IoError gives, in the user's language.
std::string reason(const IoError& error);

// A message about `count` things, in the plural form the language takes
// for that number; `count` is among its values where it shows.
template <typename... Values>
std::string trn(const char* one, const char* many, unsigned long count, const Values&... values) {
    return filled(::ngettext(one, many, count), count == 1 ? one : many, fmt::make_format_args(values...));
}

}  // namespace vrindel::cli
