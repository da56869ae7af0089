#include "l10n/L.h"

#include <mutex>
#include <utility>

#include "l10n/detail/Catalog.h"

namespace qb::l10n {
namespace {

constexpr std::string_view kEnglish = "en";
constexpr std::string_view kPlaceholder = "%@";

// The model writes the language on the main thread while network threads turn errors into text.
struct CurrentLanguage {
    std::mutex mutex;
    std::string code{kEnglish};
};

CurrentLanguage& currentLanguage() {
    static CurrentLanguage current;
    return current;
}

}  // namespace

std::string L::t(std::string_view key) {
    const detail::Catalog& catalog = detail::Catalog::instance();
    if (const auto text = catalog.find(lang(), key)) {
        return std::string(*text);
    }
    if (const auto text = catalog.find(kEnglish, key)) {
        return std::string(*text);
    }
    return std::string(key);
}

std::string L::lang() {
    CurrentLanguage& current = currentLanguage();
    const std::lock_guard lock(current.mutex);
    return current.code;
}

void L::setLang(std::string code) {
    CurrentLanguage& current = currentLanguage();
    const std::lock_guard lock(current.mutex);
    current.code = std::move(code);
}

std::string L::format(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string filled;
    filled.reserve(text.size());
    auto arg = args.begin();
    std::size_t rest = 0;
    // Only the text is scanned, never an inserted argument, so an argument holding "%@" stays as given.
    // A placeholder left without an argument stays visible rather than silently vanishing.
    for (std::size_t at = text.find(kPlaceholder); at != std::string_view::npos && arg != args.end();
         at = text.find(kPlaceholder, rest)) {
        filled.append(text.substr(rest, at - rest));
        filled.append(*arg++);
        rest = at + kPlaceholder.size();
    }
    filled.append(text.substr(rest));
    return filled;
}

}  // namespace qb::l10n
