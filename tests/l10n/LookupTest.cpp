#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "l10n/L.h"

namespace qb::l10n {
namespace {

// Restores the language each test started with, whatever the test sets.
class LookupTest : public ::testing::Test {
protected:
    void TearDown() override { L::setLang(saved_); }

private:
    std::string saved_ = L::lang();
};

TEST_F(LookupTest, UnknownLanguageFallsBackToEnglishAndUnknownKeyToItself) {
    L::setLang("xx-Future");
    EXPECT_EQ(L::lang(), "xx-Future");
    EXPECT_EQ(L::t("menu.quit"), "Quit Quobblefin");
    EXPECT_EQ(L::t("no.such.key"), "no.such.key");
    EXPECT_EQ(L::t(""), "");

    L::setLang("");
    EXPECT_EQ(L::t("settings.done"), "Done");
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
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(wrong[i], 0) << "reader " << i;
    }
}

}  // namespace
}  // namespace qb::l10n
