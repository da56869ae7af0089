#include <array>

#include "l10n/L.h"
#include "l10n/tables/Tables.h"

namespace qb::l10n {
namespace {

constexpr std::array kLanguages{
    Language{"en", "English"},          Language{"th", "ไทย"},
    Language{"ja", "日本語"},           Language{"ko", "한국어"},
    Language{"zh-Hans", "简体中文"},    Language{"zh-Hant", "繁體中文"},
    Language{"es", "Español"},          Language{"de", "Deutsch"},
    Language{"fr", "Français"},         Language{"pt-BR", "Português (Brasil)"},
    Language{"id", "Bahasa Indonesia"}, Language{"vi", "Tiếng Việt"},
    Language{"ru", "Русский"},
};

struct Registration {
    std::string_view code;
    tables::Table (*table)();
};

constexpr std::array kTables{
    Registration{"en", &tables::english},
    Registration{"th", &tables::thai},
    Registration{"ja", &tables::japanese},
    Registration{"ko", &tables::korean},
    Registration{"zh-Hans", &tables::chineseSimplified},
    Registration{"zh-Hant", &tables::chineseTraditional},
    Registration{"es", &tables::spanish},
    Registration{"de", &tables::german},
    Registration{"fr", &tables::french},
    Registration{"pt-BR", &tables::portugueseBrazil},
    Registration{"id", &tables::indonesian},
    Registration{"vi", &tables::vietnamese},
    Registration{"ru", &tables::russian},
};

}  // namespace

std::span<const Language> languages() {
    return kLanguages;
}

tables::Table tables::forLanguage(std::string_view code) {
    for (const Registration& registration : kTables) {
        if (registration.code == code) {
            return registration.table();
        }
    }
    return {};
}

}  // namespace qb::l10n
