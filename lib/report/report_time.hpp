// Time zone step shared by the report period and naming code.
#pragma once

namespace lb::report {

// Applies the configured time zone (from the store's time settings) to the
// process and to "/etc/localtime"; does nothing when none is configured.
void refresh_time_zone() noexcept;

} // namespace lb::report
