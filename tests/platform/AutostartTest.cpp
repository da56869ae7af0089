#include "platform/Autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "support/TestEnv.h"

namespace qb::platform {
namespace {

TEST(Autostart, ExecArgumentsAreQuotedAndEscapedOnlyWhereNeeded) {
    const struct {
        std::string_view argument;
        std::string_view field;
    } cases[] = {
        {"/usr/bin/quobblefin", "/usr/bin/quobblefin"},
        {"/opt/My Apps/quobblefin", R"("/opt/My Apps/quobblefin")"},
        {"/opt/100%/q", "/opt/100%%/q"},
        {R"(/opt/a"b$c`d/q)", R"("/opt/a\\"b\\$c\\`d/q")"},
        {R"(/opt/back\slash/q)", R"("/opt/back\\\\slash/q")"},
        {"", R"("")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(desktopExecArgument(c.argument), c.field) << c.argument;
    }
}

TEST(Autostart, EntryStartsTheProgramHiddenAndGoesAwayOnRemove) {
    test::TempDir dir;
    const AutostartEntry entry(dir / "autostart" / "q.desktop");
    EXPECT_FALSE(entry.exists());
    EXPECT_TRUE(entry.remove()) << "a missing entry counts as removed";
    ASSERT_TRUE(entry.install("/opt/My Apps/quobblefin"));
    std::ifstream file(entry.file());
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\n")) << text;
    EXPECT_NE(text.find("\nExec=\"/opt/My Apps/quobblefin\" --hidden\n"), std::string::npos) << text;
    // The desktop's own validator accepts it (installed with the test packages).
    const std::string validate = "desktop-file-validate '" + entry.file().string() + "'";
    EXPECT_EQ(std::system(validate.c_str()), 0);
    EXPECT_TRUE(entry.install("/usr/bin/quobblefin")) << "rewriting follows a moved program";
    EXPECT_TRUE(entry.remove());
    EXPECT_FALSE(entry.exists());
}

}  // namespace
}  // namespace qb::platform
