#pragma once

// The texts a user sees, in the user's language. The English text is the key: it is what the
// program shows when no catalogue has it, and what each catalogue (po/LANG.po, compiled into the
// program) translates. Texts with values in them are patterns with the places %1 to %9, which
// a translation may put in any order: Fill(Tr("Downloading %1 from %2."), {name, host}).

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// `english` in the chosen language: its translation, or `english` itself. The result lives as
// long as the program.
const char *Tr(const char *english);
// Marks a text for the catalogue where it is stored (a table) rather than shown; the place that
// shows it passes it through Tr.
constexpr const char *TrKey(const char *english) {
    return english;
}
// `pattern` with %1 to %9 replaced by the values; any other "%" stays as it is.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values);

// Chooses the language of Tr from a catalogue's code or a locale's name ("de", "de_DE.UTF-8",
// "pt-BR", "ja_JP"): the catalogue of its language and region, else of its language. Anything
// else, "C" and "en" included, chooses English. Returns the code chosen ("en" for English).
// Called at start, before any other thread runs.
std::string ChooseTextLanguage(std::string_view name);
// The code of the language chosen.
const std::string &TextLanguage();
// The codes of the catalogues built in, "en" first.
std::vector<std::string> TextLanguages();

// The user's language as the system tells it, as a locale name (empty: none told): LC_ALL,
// LC_MESSAGES or LANG on POSIX systems, the first one set; the user's UI language on Windows.
// A program built for one language gives that one.
std::string SystemLanguage();

} // namespace platform
