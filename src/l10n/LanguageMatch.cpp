#include <algorithm>
#include <cstdlib>
#include <optional>

#include "l10n/L.h"

namespace qb::l10n {
namespace {

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c); });
    return lower;
}

// `tag` is lower-cased. Exact codes win over the Chinese and Portuguese families, which win over prefixes.
std::optional<std::string_view> matchTag(const std::string& tag) {
    for (const Language& language : languages()) {
        if (tag == lowered(language.code)) {
            return language.code;
        }
    }
    if (tag.starts_with("zh")) {
        const bool traditional = tag.find("hant") != std::string::npos || tag.find("tw") != std::string::npos ||
                                 tag.find("hk") != std::string::npos;
        return traditional ? "zh-Hant" : "zh-Hans";
    }
    if (tag.starts_with("pt")) {
        return "pt-BR";
    }
    for (const Language& language : languages()) {
        if (tag.starts_with(lowered(language.code) + "-")) {
            return language.code;
        }
    }
    return std::nullopt;
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string_view{} : std::string_view{value};
}

// "pt_BR.UTF-8" -> "pt-BR", "sr_RS@latin" -> "sr-RS"; nothing for an empty value or the C locale.
std::optional<std::string> tagFromLocale(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") {
        return std::nullopt;
    }
    std::string tag(locale);
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

// The locale that decides messages, by POSIX precedence; unset means the C locale.
std::string_view messagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const std::string_view value = environment(name); !value.empty()) {
            return value;
        }
    }
    return {};
}

void addTag(std::vector<std::string>& tags, std::string_view locale) {
    if (auto tag = tagFromLocale(locale); tag && std::find(tags.begin(), tags.end(), *tag) == tags.end()) {
        tags.push_back(std::move(*tag));
    }
}

}  // namespace

std::string L::match(const std::vector<std::string>& preferredTags) {
    for (const std::string& tag : preferredTags) {
        if (const auto code = matchTag(lowered(tag))) {
            return std::string(*code);
        }
    }
    return "en";
}

// As GNU gettext does, the LANGUAGE list counts only when the messages locale is not the C locale: a user who
// chose "C" asked for untranslated texts. Unlike gettext, this reads the environment rather than the process's
// setlocale() state, so it gives the same answer whether or not the program has called setlocale(). LC_ALL,
// LC_MESSAGES and LANG all follow as further preferences, where gettext would use only the first one set; a tag
// that appears twice is kept at its first place.
std::vector<std::string> L::preferredLanguages() {
    std::vector<std::string> tags;
    if (tagFromLocale(messagesLocale())) {
        std::string_view list = environment("LANGUAGE");
        while (!list.empty()) {
            const std::size_t colon = list.find(':');
            addTag(tags, list.substr(0, colon));
            list = colon == std::string_view::npos ? std::string_view{} : list.substr(colon + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        addTag(tags, environment(name));
    }
    return tags;
}

}  // namespace qb::l10n
