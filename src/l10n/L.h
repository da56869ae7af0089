#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb::l10n {

struct Language {
    std::string_view code;         // "en", "zh-Hans", "pt-BR", ...
    std::string_view displayName;  // the language's own name, e.g. "日本語"
};

// The 13 languages in the order they are offered for choice.
std::span<const Language> languages();

// Localised texts. Tables are built once, thread-safely, on first use. Lookups are safe from
// any thread; the language is written only by the model, on the main thread.
class L {
public:
    // The text of `key` in the current language, else English, else the key itself.
    static std::string t(std::string_view key);

    static std::string lang();
    static void setLang(std::string code);

    // Fills each "%@" of `text` with the next argument, in order.
    static std::string format(std::string_view text, std::initializer_list<std::string_view> args);

    // The best of the 13 codes for the preferred language tags, most preferred first; "en" if none matches.
    static std::string match(const std::vector<std::string>& preferredTags);

    // Preferred tags from the environment in GNU order (LANGUAGE list, LC_ALL, LC_MESSAGES, LANG),
    // POSIX forms such as "pt_BR.UTF-8" turned into tags ("pt-BR").
    static std::vector<std::string> preferredLanguages();

    static std::string systemDefault() { return match(preferredLanguages()); }
};

}  // namespace qb::l10n
