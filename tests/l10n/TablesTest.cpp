#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "l10n/L.h"
#include "l10n/tables/Tables.h"

namespace qb::l10n {
namespace {

std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

std::vector<std::string_view> keysOf(tables::Table table) {
    std::vector<std::string_view> keys;
    for (const tables::Entry& entry : table) {
        keys.push_back(entry.key);
    }
    return keys;
}

TEST(Tables, LanguagesAreOfferedUnderTheirCodesInOrder) {
    std::vector<std::string_view> codes;
    for (const Language& language : languages()) {
        codes.push_back(language.code);
        EXPECT_FALSE(language.displayName.empty()) << language.code;
    }
    EXPECT_EQ(codes, (std::vector<std::string_view>{"en", "th", "ja", "ko", "zh-Hans", "zh-Hant", "es", "de", "fr",
                                                    "pt-BR", "id", "vi", "ru"}));
    EXPECT_TRUE(tables::forLanguage("EN").empty());
    EXPECT_TRUE(tables::forLanguage("zh").empty());
}

TEST(Tables, EveryTableHoldsExactlyTheEnglishKeysInOrder) {
    const std::vector<std::string_view> english = keysOf(tables::english());
    ASSERT_EQ(english.size(), tables::kKeyCount);
    EXPECT_EQ(std::set<std::string_view>(english.begin(), english.end()).size(), english.size()) << "duplicate key";
    for (const Language& language : languages()) {
        EXPECT_EQ(keysOf(tables::forLanguage(language.code)), english) << language.code;
    }
}

// What callers fill in or rely on must survive translation: the placeholders, the line break, the separators and
// arrows the layout is built around, and the product and maker names.
TEST(Tables, TranslationsKeepPlaceholdersSeparatorsAndNames) {
    constexpr std::string_view kKept[] = {"%@",     "\n",     "\u00B7" /* · */, "\u203A" /* › */,
                                          "\u2192", "\u2190", "Quobblefin",     "Kestrun"};
    const tables::Table english = tables::english();
    for (const Language& language : languages()) {
        const tables::Table table = tables::forLanguage(language.code);
        ASSERT_EQ(table.size(), english.size()) << language.code;
        for (std::size_t i = 0; i < table.size(); ++i) {
            EXPECT_FALSE(table[i].text.empty()) << language.code << " " << table[i].key;
            for (std::string_view kept : kKept) {
                EXPECT_EQ(occurrences(table[i].text, kept), occurrences(english[i].text, kept))
                    << language.code << " " << table[i].key << " \"" << kept << "\": " << table[i].text;
            }
        }
    }
}

TEST(Tables, TypographicCharactersAreNotReplacedByAscii) {
    for (const Language& language : languages()) {
        for (const tables::Entry& entry : tables::forLanguage(language.code)) {
            EXPECT_EQ(entry.text.find("Wi-Fi"), std::string_view::npos) << language.code << " " << entry.key;
            EXPECT_EQ(entry.text.find("..."), std::string_view::npos) << language.code << " " << entry.key;
            EXPECT_EQ(entry.text.find('"'), std::string_view::npos) << language.code << " " << entry.key;
        }
    }
}

TEST(Tables, LookupReturnsTheTextOfTheChosenLanguage) {
    const std::string saved = L::lang();
    for (const Language& language : languages()) {
        L::setLang(std::string(language.code));
        for (const tables::Entry& entry : tables::forLanguage(language.code)) {
            EXPECT_EQ(L::t(entry.key), entry.text) << language.code << " " << entry.key;
        }
    }
    L::setLang(saved);
}

}  // namespace
}  // namespace qb::l10n
