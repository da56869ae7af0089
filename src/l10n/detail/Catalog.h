#pragma once

#include <optional>
#include <string_view>
#include <unordered_map>

namespace qb::l10n::detail {

// The string tables as lookup maps. Keys and texts point into the constant tables, which live as long as the
// program, so the maps hold views only.
class Catalog {
public:
    // Built on the first call; safe when that first call comes from several threads at once.
    static const Catalog& instance();

    // The text of `key` in the table of `code`; nothing when that table is missing or lacks the key.
    std::optional<std::string_view> find(std::string_view code, std::string_view key) const;

private:
    using TextMap = std::unordered_map<std::string_view, std::string_view>;

    Catalog();

    std::unordered_map<std::string_view, TextMap> tables_;
};

}  // namespace qb::l10n::detail
