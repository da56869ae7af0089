#include <gtest/gtest.h>

#include <latch>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "l10n/L.h"
#include "l10n/tables/Tables.h"
#include "support/TestEnv.h"

namespace qb::l10n {
namespace {

std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// Restores the language each test started with, whatever the test sets.
class LookupTest : public ::testing::Test {
protected:
    void TearDown() override { L::setLang(saved_); }

private:
    std::string saved_ = L::lang();
};

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

// Arguments are not scanned again; a missing one leaves its placeholder.
TEST(Format, FillsPlaceholdersInOrder) {
    EXPECT_EQ(L::format("%@ file(s) \u00B7 %@", {"3", "1.2 MB"}), "3 file(s) \u00B7 1.2 MB");
    EXPECT_EQ(L::format("%@%@", {"a", "b"}), "ab");
    EXPECT_EQ(L::format("%@ and %@", {"%@", "x"}), "%@ and x");
    EXPECT_EQ(L::format("%@ and %@", {"a"}), "a and %@");
    EXPECT_EQ(L::format("Added %@", {"a", "ignored"}), "Added a");
    EXPECT_EQ(L::format("no placeholder", {"a"}), "no placeholder");
    EXPECT_EQ(L::format("100% %@", {"sure"}), "100% sure");
}

TEST(Tables, LanguagesAreOfferedUnderTheirCodesInOrderAndEnglishKeysAreUnique) {
    std::vector<std::string_view> codes;
    for (const Language& language : languages()) {
        codes.push_back(language.code);
        EXPECT_FALSE(language.displayName.empty()) << language.code;
    }
    EXPECT_EQ(codes, (std::vector<std::string_view>{"en", "th", "ja", "ko", "zh-Hans", "zh-Hant", "es", "de", "fr",
                                                    "pt-BR", "id", "vi", "ru"}));
    EXPECT_TRUE(tables::forLanguage("EN").empty());
    EXPECT_TRUE(tables::forLanguage("zh").empty());

    std::set<std::string_view> keys;
    for (const tables::Entry& entry : tables::english()) {
        keys.insert(entry.key);
    }
    EXPECT_EQ(tables::english().size(), tables::kKeyCount);
    EXPECT_EQ(keys.size(), tables::kKeyCount) << "duplicate key";
}

// Every table holds the English keys in order, and lookup gives its texts. What callers fill in or rely on must
// survive translation: the placeholders, the line break, the separators and arrows the layout is built around, and
// the product and maker names; typographic characters are not replaced by ASCII ones.
TEST_F(LookupTest, EveryTableHasTheEnglishKeysKeepsWhatLayoutNeedsAndIsWhatLookupGives) {
    constexpr std::string_view kKept[] = {"%@",     "\n",     "\u00B7" /* · */, "\u203A" /* › */,
                                          "\u2192", "\u2190", "Quobblefin",     "Kestrun"};
    const tables::Table english = tables::english();
    for (const Language& language : languages()) {
        SCOPED_TRACE(language.code);
        L::setLang(std::string(language.code));
        const tables::Table table = tables::forLanguage(language.code);
        ASSERT_EQ(table.size(), english.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            const tables::Entry& entry = table[i];
            EXPECT_EQ(entry.key, english[i].key);
            EXPECT_FALSE(entry.text.empty()) << entry.key;
            for (std::string_view kept : kKept) {
                EXPECT_EQ(occurrences(entry.text, kept), occurrences(english[i].text, kept))
                    << entry.key << " \"" << kept << "\": " << entry.text;
            }
            for (std::string_view ascii : {"Wi-Fi", "...", "\""}) {
                EXPECT_EQ(entry.text.find(ascii), std::string_view::npos) << entry.key;
            }
            EXPECT_EQ(L::t(entry.key), entry.text) << entry.key;
        }
    }
}

TEST_F(LookupTest, UnknownLanguageFallsBackToEnglishAndUnknownKeyToItself) {
    L::setLang("xx-Future");
    EXPECT_EQ(L::lang(), "xx-Future");
    EXPECT_EQ(L::t("menu.quit"), "Quit Quobblefin");
    EXPECT_EQ(L::t("no.such.key"), "no.such.key");
    EXPECT_EQ(L::t(""), "");

    L::setLang("");
    EXPECT_EQ(L::t("settings.done"), "Done");
}

// ctest runs every case in its own process, so here the tables really are built by the racing threads.
TEST_F(LookupTest, FirstUseFromSeveralThreadsWhileTheLanguageChanges) {
    constexpr int kThreads = 8;
    constexpr int kLookups = 2000;
    std::latch start(kThreads + 1);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::jthread> readers;
    for (int i = 0; i < kThreads; ++i) {
        readers.emplace_back([&start, &wrong, i] {
            start.arrive_and_wait();
            for (int n = 0; n < kLookups; ++n) {
                // Neither language the main thread switches between has a table of its own.
                wrong[i] += L::t("menu.quit") != "Quit Quobblefin";
                wrong[i] += L::t("err.writeFail") != "Write failed";
            }
        });
    }
    start.arrive_and_wait();
    for (int n = 0; n < kLookups; ++n) {
        L::setLang(n % 2 == 0 ? "xx" : "en");
    }
    readers.clear();
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace qb::l10n
