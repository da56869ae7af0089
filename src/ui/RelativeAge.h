#pragma once

#include <chrono>
#include <string>

#include <QString>

namespace qb::ui {

// How long ago `date` was, as short localised text ("5 min. ago"): "inbox.justNow" under a minute, else
// the relative date in the locale of `lang` ("en" reads as en_US; "pt-BR" as pt_BR).
QString relativeAge(std::chrono::system_clock::time_point date, std::chrono::system_clock::time_point now,
                    const std::string& lang);

// The ICU locale name for a language code of the string tables.
std::string ageLocaleName(const std::string& lang);

}  // namespace qb::ui
