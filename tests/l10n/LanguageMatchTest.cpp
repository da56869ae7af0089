#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "l10n/L.h"
#include "support/TestEnv.h"

namespace qb::l10n {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Match, ChineseFamilyBySubtag) {
    EXPECT_EQ(L::match({"zh-HK"}), "zh-Hant");
    EXPECT_EQ(L::match({"zh-Hant-TW"}), "zh-Hant");
    EXPECT_EQ(L::match({"zh-TW"}), "zh-Hant");
    EXPECT_EQ(L::match({"zh-CN"}), "zh-Hans");
    EXPECT_EQ(L::match({"zh"}), "zh-Hans");
    EXPECT_EQ(L::match({"ZH-hans"}), "zh-Hans");
    EXPECT_EQ(L::match({"zh-hant"}), "zh-Hant");
}

TEST(Match, PortugueseAlwaysGivesBrazilian) {
    EXPECT_EQ(L::match({"pt-PT"}), "pt-BR");
    EXPECT_EQ(L::match({"pt"}), "pt-BR");
    EXPECT_EQ(L::match({"PT-br"}), "pt-BR");
}

TEST(Match, ExactCodeOrCodeFollowedByASubtag) {
    EXPECT_EQ(L::match({"en-GB"}), "en");
    EXPECT_EQ(L::match({"es-419"}), "es");
    EXPECT_EQ(L::match({"JA"}), "ja");
    EXPECT_EQ(L::match({"ru-RU"}), "ru");
    // A code is only a prefix when a subtag follows: "dei" is not German, "ids" not Indonesian.
    EXPECT_EQ(L::match({"dei"}), "en");
    EXPECT_EQ(L::match({"ids", "vi-VN"}), "vi");
}

TEST(Match, FirstTagThatMatchesWinsElseEnglish) {
    EXPECT_EQ(L::match({"nl-NL", "de-AT"}), "de");
    EXPECT_EQ(L::match({"fr-CA", "de"}), "fr");
    EXPECT_EQ(L::match({"", "ko-KR"}), "ko");
    EXPECT_EQ(L::match({"nl"}), "en");
    EXPECT_EQ(L::match({}), "en");
}

// Sets the four variables that decide the preferred languages; nullopt leaves one unset.
struct LocaleEnvironment {
    LocaleEnvironment(std::optional<std::string> language, std::optional<std::string> lcAll,
                      std::optional<std::string> lcMessages, std::optional<std::string> lang)
        : language_("LANGUAGE", std::move(language)),
          lcAll_("LC_ALL", std::move(lcAll)),
          lcMessages_("LC_MESSAGES", std::move(lcMessages)),
          lang_("LANG", std::move(lang)) {}

private:
    test::ScopedEnv language_;
    test::ScopedEnv lcAll_;
    test::ScopedEnv lcMessages_;
    test::ScopedEnv lang_;
};

TEST(PreferredLanguages, LanguageListFirstThenLocaleVariablesAsTags) {
    const LocaleEnvironment env("pt_BR:de", std::nullopt, std::nullopt, "fr_FR.UTF-8");
    EXPECT_THAT(L::preferredLanguages(), ElementsAre("pt-BR", "de", "fr-FR"));
}

TEST(PreferredLanguages, CodesetAndModifierAreDropped) {
    const LocaleEnvironment env(std::nullopt, "sr_RS@latin", "zh_TW", "ca_ES.UTF-8@valencia");
    EXPECT_THAT(L::preferredLanguages(), ElementsAre("sr-RS", "zh-TW", "ca-ES"));
}

TEST(PreferredLanguages, EmptyAndCEntriesAreSkippedAndRepeatsKeptOnce) {
    const LocaleEnvironment env("de::C:ja_JP.eucJP:POSIX:", "", std::nullopt, "de_DE.UTF-8");
    EXPECT_THAT(L::preferredLanguages(), ElementsAre("de", "ja-JP", "de-DE"));

    const LocaleEnvironment again(std::nullopt, std::nullopt, "de_DE", "de_DE.UTF-8");
    EXPECT_THAT(L::preferredLanguages(), ElementsAre("de-DE"));
}

TEST(PreferredLanguages, LanguageListIgnoredUnderTheCLocale) {
    {
        const LocaleEnvironment env("de:fr", std::nullopt, std::nullopt, std::nullopt);
        EXPECT_THAT(L::preferredLanguages(), IsEmpty());
    }
    {
        const LocaleEnvironment env("de:fr", "C.UTF-8", std::nullopt, "ko_KR.UTF-8");
        EXPECT_THAT(L::preferredLanguages(), ElementsAre("ko-KR"));
    }
    {
        // An empty LC_ALL does not count; LC_MESSAGES then decides that this is not the C locale.
        const LocaleEnvironment env("th", "", "ja_JP.UTF-8", "C");
        EXPECT_THAT(L::preferredLanguages(), ElementsAre("th", "ja-JP"));
    }
}

TEST(PreferredLanguages, SystemDefaultMatchesTheEnvironment) {
    {
        const LocaleEnvironment env("nl:de_AT", std::nullopt, std::nullopt, "nl_NL.UTF-8");
        EXPECT_EQ(L::systemDefault(), "de");
    }
    {
        const LocaleEnvironment env(std::nullopt, std::nullopt, std::nullopt, "zh_HK.UTF-8");
        EXPECT_EQ(L::systemDefault(), "zh-Hant");
    }
    {
        const LocaleEnvironment env(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
        EXPECT_EQ(L::systemDefault(), "en");
    }
}

}  // namespace
}  // namespace qb::l10n
