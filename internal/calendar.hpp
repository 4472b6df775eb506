// Calendar names shared by the report code and its tools.
#pragma once

#include <array>

namespace lb::calendar {

// Day names by day number, as struct tm counts them: 0 is Sunday.
inline constexpr std::array<const char *, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed",
                                                          "Thu", "Fri", "Sat"};

} // namespace lb::calendar
