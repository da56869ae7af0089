#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace qb::l10n::tables {

// One text of a string table. Keys are ASCII "area.name"; texts are UTF-8 and may hold "%@" placeholders.
struct Entry {
    std::string_view key;
    std::string_view text;
};

using Table = std::span<const Entry>;

// How many keys every table holds.
inline constexpr std::size_t kKeyCount = 120;

// Every table lists the keys of the English one, in the same order.
Table english();
Table thai();
Table japanese();
Table korean();
Table chineseSimplified();
Table chineseTraditional();
Table spanish();
Table german();
Table french();
Table portugueseBrazil();
Table indonesian();
Table vietnamese();
Table russian();

// The table registered under one of the codes of languages(); empty for any other code.
Table forLanguage(std::string_view code);

}  // namespace qb::l10n::tables
