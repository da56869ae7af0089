#include "l10n/detail/Catalog.h"

#include "l10n/L.h"
#include "l10n/tables/Tables.h"

namespace qb::l10n::detail {

const Catalog& Catalog::instance() {
    // A function-local static is initialised exactly once even when first reached from several threads.
    static const Catalog catalog;
    return catalog;
}

Catalog::Catalog() {
    for (const Language& language : languages()) {
        TextMap texts;
        for (const tables::Entry& entry : tables::forLanguage(language.code)) {
            texts.emplace(entry.key, entry.text);
        }
        // An empty table counts as missing, so its language falls back to English throughout.
        if (!texts.empty()) {
            tables_.emplace(language.code, std::move(texts));
        }
    }
}

std::optional<std::string_view> Catalog::find(std::string_view code, std::string_view key) const {
    const auto table = tables_.find(code);
    if (table == tables_.end()) {
        return std::nullopt;
    }
    const auto text = table->second.find(key);
    if (text == table->second.end()) {
        return std::nullopt;
    }
    return text->second;
}

}  // namespace qb::l10n::detail
