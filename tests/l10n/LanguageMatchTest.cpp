#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "l10n/L.h"
#include "support/TestEnv.h"

namespace qb::l10n {
namespace {

// A code is only a prefix when a subtag follows: "dei" is not German, "ids" not Indonesian.
TEST(Match, EachPreferenceListGivesItsLanguage) {
    // clang-format off
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"zh-HK"}, "zh-Hant"}, {{"zh-Hant-TW"}, "zh-Hant"}, {{"zh-TW"}, "zh-Hant"}, {{"zh-hant"}, "zh-Hant"},
        {{"zh-CN"}, "zh-Hans"}, {{"zh"}, "zh-Hans"}, {{"ZH-hans"}, "zh-Hans"},
        {{"pt-PT"}, "pt-BR"}, {{"pt"}, "pt-BR"}, {{"PT-br"}, "pt-BR"},
        {{"en-GB"}, "en"}, {{"es-419"}, "es"}, {{"JA"}, "ja"}, {{"ru-RU"}, "ru"}, {{"dei"}, "en"},
        {{"ids", "vi-VN"}, "vi"}, {{"nl-NL", "de-AT"}, "de"}, {{"fr-CA", "de"}, "fr"}, {{"", "ko-KR"}, "ko"},
        {{"nl"}, "en"}, {{}, "en"}};
    // clang-format on
    for (const auto& [tags, language] : rows) {
        EXPECT_EQ(L::match(tags), language) << ::testing::PrintToString(tags);
    }
}

// LANGUAGE, LC_ALL, LC_MESSAGES and LANG (nullopt: unset), and what they make of the preferred languages.
TEST(PreferredLanguages, LocaleVariablesBecomeTagsInOrder) {
    using Value = std::optional<std::string>;
    const struct {
        const char* name;
        Value language, lcAll, lcMessages, lang;
        std::vector<std::string> preferred;
        std::string systemDefault;
    } rows[] = {
        {"language list first", "pt_BR:de", {}, {}, "fr_FR.UTF-8", {"pt-BR", "de", "fr-FR"}, "pt-BR"},
        // clang-format off
        {"codeset and modifier dropped", {}, "sr_RS@latin", "zh_TW", "ca_ES.UTF-8@valencia",
         {"sr-RS", "zh-TW", "ca-ES"}, "zh-Hant"},
        {"empty and C entries skipped, repeats kept once", "de::C:ja_JP.eucJP:POSIX:", "", {}, "de_DE.UTF-8",
         {"de", "ja-JP", "de-DE"}, "de"},
        // clang-format on
        {"one tag from two variables", {}, {}, "de_DE", "de_DE.UTF-8", {"de-DE"}, "de"},
        {"language list ignored under the C locale", "de:fr", {}, {}, {}, {}, "en"},
        {"C from LC_ALL", "de:fr", "C.UTF-8", {}, "ko_KR.UTF-8", {"ko-KR"}, "ko"},
        // An empty LC_ALL does not count; LC_MESSAGES then decides that this is not the C locale.
        {"empty LC_ALL", "th", "", "ja_JP.UTF-8", "C", {"th", "ja-JP"}, "th"},
        {"first match wins", "nl:de_AT", {}, {}, "nl_NL.UTF-8", {"nl", "de-AT", "nl-NL"}, "de"},
        {"nothing set", {}, {}, {}, {}, {}, "en"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const test::ScopedEnv language("LANGUAGE", row.language), lcAll("LC_ALL", row.lcAll),
            lcMessages("LC_MESSAGES", row.lcMessages), lang("LANG", row.lang);
        EXPECT_EQ(L::preferredLanguages(), row.preferred);
        EXPECT_EQ(L::systemDefault(), row.systemDefault);
    }
}

}  // namespace
}  // namespace qb::l10n
