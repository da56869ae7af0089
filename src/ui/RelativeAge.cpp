#include "ui/RelativeAge.h"

#include <algorithm>
#include <array>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include "ui/Look.h"

namespace qb::ui {

namespace {

using namespace std::chrono_literals;

struct AgeUnit {
    std::chrono::seconds length;
    URelativeDateTimeUnit unit;
};

// The largest unit that fits at least once names the age, as a calendar-free reading would.
constexpr std::array kUnits{
    AgeUnit{std::chrono::seconds(365 * 24h), UDAT_REL_UNIT_YEAR},
    AgeUnit{std::chrono::seconds(30 * 24h), UDAT_REL_UNIT_MONTH},
    AgeUnit{std::chrono::seconds(7 * 24h), UDAT_REL_UNIT_WEEK},
    AgeUnit{std::chrono::seconds(24h), UDAT_REL_UNIT_DAY},
    AgeUnit{std::chrono::seconds(1h), UDAT_REL_UNIT_HOUR},
    AgeUnit{std::chrono::seconds(1min), UDAT_REL_UNIT_MINUTE},
};

}  // namespace

std::string ageLocaleName(const std::string& lang) {
    if (lang == "en") {
        return "en_US";
    }
    std::string name = lang;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

QString relativeAge(std::chrono::system_clock::time_point date, std::chrono::system_clock::time_point now,
                    const std::string& lang) {
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - date);
    if (age < 60s) {
        return text("inbox.justNow");
    }
    const auto fitting =
        std::find_if(kUnits.begin(), kUnits.end(), [&](const AgeUnit& unit) { return age >= unit.length; });
    UErrorCode status = U_ZERO_ERROR;
    const icu::RelativeDateTimeFormatter formatter(icu::Locale(ageLocaleName(lang).c_str()), nullptr, UDAT_STYLE_SHORT,
                                                   UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString formatted;
    const auto count = static_cast<double>(age / fitting->length);
    formatter.formatNumeric(-count, fitting->unit, formatted, status);
    if (U_FAILURE(status)) {
        return {};
    }
    return QString::fromUtf16(formatted.getBuffer(), formatted.length());
}

}  // namespace qb::ui
