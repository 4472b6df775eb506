// The report vocabulary: names of output formats, element types, period
// types and upload server kinds, and the four predefined chart sets. Constant
// data shared by the library and the logbase tool.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "logbase.h"

namespace lb::report_vocab {

// Output formats, bit n of a format mask selecting row n.
inline constexpr std::array<const char *, 5> _rptfmts = {"html", "pdf", "rtf", "txt", "mht"};

// Report element types 0 to 7: long and two-letter names.
inline constexpr std::array<const char *, 8> rptelem_names = {
    "rptel1", "qryset", "devset", "fltrstr", "rptsched", "rptout", "rptcust", "rptsum"};
inline constexpr std::array<const char *, 8> rptelem_nms = {"re", "qs", "ds", "fs",
                                                            "rs", "ro", "rc", "sr"};

// Report period types 0 to 15; RPT_PERIOD_CUSTOM (16) has no name.
inline constexpr std::array<const char *, 16> _flg_rpt_period = {
    "today",        "yesterday",    "last-n-hours", "this-week",  "last-week",  "last-7-days",
    "last-n-days",  "last-2-weeks", "last-14-days", "this-month", "last-month", "last-30-days",
    "last-n-weeks", "this-quarter", "last-quarter", "this-year"};
inline constexpr std::uint32_t _flg_rpt_period_len = _flg_rpt_period.size();
static_assert(_flg_rpt_period_len == RPT_PERIOD_CUSTOM, "a failed lookup gives the custom period");

// Upload server kinds.
inline constexpr std::array<const char *, 3> _rptout_svr = {"FTP", "SFTP", "SCP"};

// One predefined chart: the query id is what a report run asks for; the
// other columns define the chart the id stands for.
struct chart_row {
    const char *key;
    const char *title;
    std::int32_t flag;
    std::int32_t id;
    std::uint32_t options;
    const char *query;
};

inline constexpr chart_row rq_pci_act[] = {
    {"pci-attacks-date-type", "PCI_Attacks_by_Date_and_Top_Attack_Types", 0, 900, 0x200,
     "type==attack :vars=idate,attack_id :keepTopY=5"},
    {"pci-attacks-month-type", "PCI_Attacks_by_Month_and_Top_Attack_Types", 0, 901, 0x400,
     "type==attack :vars=imonth,attack_id :keepTopY=5"},
    {"pci-attacks-day-type", "PCI_Attacks_by_Day_of_Week_and_Top_Attack_Types", 0, 902, 0x200,
     "type==attack :vars=iwday,attack_id :keepTopY=10"},
    {"pci-attacks-hour-type", "PCI_Attacks_by_Hour_of_Day_and_Top_Attack_Types", 0, 903, 0x100,
     "type==attack :vars=ihour,attack_id :keepTopY=5"},
};

inline constexpr chart_row rq_int_act[] = {
    {"attacks-type", "Attacks_by_Top_Attack_Types", 1, 0, 0x2,
     "type==attack :vars=attack_id :keepTopX=10"},
    {"attacks-url", "Attacks_by_Top_URLs", 0, 1, 0, "type==attack :vars=url :keepTopX=10"},
    {"attacks-date-type", "Attacks_by_Date_and_Top_Attack_Types", 0, 2, 0x200,
     "type==attack :vars=idate,attack_id :keepTopY=5"},
    {"attacks-month-type", "Attacks_by_Month_and_Top_Attack_Types", 0, 3, 0x400,
     "type==attack :vars=imonth,attack_id :keepTopY=5"},
    {"attacks-day-type", "Attacks_by_Day_of_Week_and_Top_Attack_Types", 0, 4, 0x200,
     "type==attack :vars=iwday,attack_id :keepTopY=10"},
    {"attacks-hour-type", "Attacks_by_Hour_of_Day_and_Top_Attack_Types", 0, 5, 0x100,
     "type==attack :vars=ihour,attack_id :keepTopY=5"},
    {"attacks-type-dev", "Attacks_by_Top_Actions_and_Attack_Severity", 0, 7, 0,
     "type==attack :vars=action,attack_cat :keepTopX=10 :keepTopY=10"},
    {"attacks-dst-type", "Attacks_by_Attack_Destination_and_Top_Attack_Types", 0, 8, 0,
     "type==attack :vars=dst,attack_id :keepTopX=5 :keepTopY=4"},
    {"attacks-dst-ip", "Attacks_by_Attack_Destination_and_Top_Attack_Source_IP", 0, 9, 0,
     "type==attack :vars=dst,src :keepTopX=5 :keepTopY=4"},
    {"attacks-type-ip", "Attacks_by_Top_Attack_Types_and_Top_Attack_Source_IP", 0, 10, 0,
     "type==attack :vars=attack_id,src :keepTopX=5 :keepTopY=4"},
    {"attacks-method-type", "Attacks_by_Http_Methods_and_Top_Attack_Types", 0, 11, 0,
     "type==attack :vars=method,attack_id :keepTopX=10 :keepTopY=10"},
    {"attacks-cat", "Attacks_By_Category", 0, 12, 0,
     "type==attack :vars=a_subtype,attack_id :keepTopX=10 :keepTopY=10"},
    {"attacks-policy", "Attacks_By_Policy", 0, 13, 0, "type==attack :vars=policy :keepTopX=10"},
    {"attacks-day", "Attacks_By_Day", 0, 14, 0x200, "type==attack :vars=idate"},
    {"attacks-ts", "Top_Sources_Of_Attacks", 1, 15, 0x2, "type==attack :vars=src :keepTopX=10"},
    {"attacks-td", "Top_Destinations_of_Attacks", 1, 16, 0x2,
     "type==attack :vars=dst :keepTopX=10"},
    {"attacks-proto", "Top_Attacks_by_Protocol", 0, 17, 0,
     "type==attack :vars=a_service,attack_id :keepTopX=10 :keepTopY=10"},
    {"attacks-date-severity", "Attacks_by_Date_and_Top_Attack_Severity", 0, 20, 0x200,
     "type==attack :vars=idate,attack_cat :keepTopX=5 :keepTopY=5"},
    {"attacks-month-severity", "Attacks_by_Month_and_Top_Attack_Severity", 0, 21, 0x400,
     "type==attack :vars=imonth,attack_cat :keepTopX=5 :keepTopY=5"},
    {"attacks-day-severity", "Attacks_by_Day_of_Week_and_Top_Attack_Severity", 0, 22, 0x200,
     "type==attack :vars=iwday,attack_cat :keepTopX=5 :keepTopY=10"},
    {"attacks-hour-severity", "Attacks_by_Hour_of_Day_and_Top_Attack_Severity", 0, 23, 0x100,
     "type==attack :vars=ihour,attack_cat :keepTopX=5 :keepTopY=5"},
    {"attacks-sessionid", "Attacks_By_UserID", 0, 24, 0,
     "type==attack :vars=session_id :keepTopX=5 :keepTopY=5"},
    {"attacks-srccountry", "Attacks_By_Source_Country", 0, 25, 0,
     "type==attack :vars=srccountry :keepTopX=5 :keepTopY=5"},
    {"attacks-sig-id", "Attacks_By_Signature_ID", 0, 26, 0,
     "type==attack :vars=signature_id :keepTopX=5 :keepTopY=5"},
    {"attacks-type-sig", "Attacks_by_Attack_Types_and_Top_Signature_ID", 0, 27, 0x200,
     "type==attack :vars=attack_id,signature_id :keepTopY=10"},
    {"attacks-vaultbay", "Attacks_by_Vaultbay", 0, 28, 0,
     "type==attack :vars=attack_id :keepTopY=10"},
    {"attacks-hostname", "Attacks_By_Http_Host", 0, 29, 0,
     "type==attack :vars=fs_http_host :keepTopX=5 :keepTopY=5"},
    {"attacks-username", "Attacks_By_User_Name", 0, 30, 0,
     "type==attack :vars=fs_user :keepTopX=5 :keepTopY=5"},
    {"attacks-httprefer", "Attacks_By_Http_Refer", 0, 31, 0,
     "type==attack :vars=fs_httprefer :keepTopX=5 :keepTopY=5"},
    {"attacks-httpversion", "Attacks_By_Http_Version", 0, 32, 0,
     "type==attack :vars=fs_httpversion :keepTopX=5 :keepTopY=5"},
    {"threat-weight-client-device", "Top_Client_Device_Of_Threat_Weight", 0, 33, 0,
     "type==threat_weight :vars=client_device :keepTopX=5 :keepTopY=5"},
    {"attacks-client-device", "Top_Attacks_by_Client_Device", 0, 34, 0,
     "type==attack :vars=client_device :keepTopX=5 :keepTopY=5"},
    {"cat-client-device", "Top_Category_by_Client_Device", 0, 35, 0,
     "type==a_subtype,attack_id :vars=client_device :keepTopX=5 :keepTopY=5"},
    {"attack-summary", "Attack_Summary", 0, 36, 0,
     "type==a_subtype,attack_id :vars=client_device :keepTopX=5 :keepTopY=5"},
    {"attack-details", "Attack_Details", 0, 37, 0,
     "type==a_subtype,attack_id :vars=client_device :keepTopX=5 :keepTopY=5"},
};

inline constexpr chart_row rq_net_act[] = {
    {"net-pol", "Top_Policies", 0, 1800, 0x2, "type==traffic :vars=policy :keepTopX=12"},
    {"net-srv", "Top_Services", 0, 1801, 0x2, "type==traffic :vars=service :keepTopX=12"},
    {"net-src", "Top_Sources", 0, 1802, 0x2, "type==traffic :vars=src :keepTopX=12"},
    {"net-dst", "Top_Destinations", 0, 1803, 0x2, "type==traffic :vars=dst :keepTopX=12"},
    {"net-src-dst", "Top_Destinations_By_Top_Source", 0, 1804, 0,
     "type==traffic :vars=src,dst :keepTopX=5 :keepTopY=10"},
    {"net-dst-src", "Top_Sources_By_Top_Destination", 0, 1805, 0,
     "type==traffic :vars=dst,src :keepTopX=5 :keepTopY=10"},
    {"net-date-dst", "Top_Destinations_By_Date", 0, 1806, 0x200,
     "type==traffic :vars=idate,dst :keepTopX=5 :keepTopY=10"},
    {"net-hour-dst", "Top_Destinations_By_Hour_of_Day", 0, 1807, 0x100,
     "type==traffic :vars=ihour,dst :keepTopX=5 :keepTopY=10"},
    {"net-day-dst", "Top_Destinations_By_Day_of_Week", 0, 1808, 0x200,
     "type==traffic :vars=iwday,dst :keepTopX=5 :keepTopY=10"},
    {"net-month-dst", "Top_Destinations_By_Month", 0, 1809, 0x400,
     "type==traffic :vars=imonth,dst :keepTopX=5 :keepTopY=10"},
    {"net-date-src", "Top_Sources_By_Date", 0, 1810, 0x200,
     "type==traffic :vars=idate,src :keepTopX=5 :keepTopY=10"},
    {"net-hour-src", "Top_Sources_By_Hour_of_Day", 0, 1811, 0x100,
     "type==traffic :vars=ihour,src :keepTopX=5 :keepTopY=10"},
    {"net-day-src", "Top_Sources_By_Day_of_Week", 0, 1812, 0x200,
     "type==traffic :vars=iwday,src :keepTopX=5 :keepTopY=10"},
    {"net-month-src", "Top_Sources_By_Month", 0, 1813, 0x400,
     "type==traffic :vars=imonth,src :keepTopX=5 :keepTopY=10"},
    {"net-srccountry", "Top_Source_Country", 0, 1814, 0x2,
     "type==traffic :vars=srccountry :keepTopX=12"},
    {"net-hostname", "Top_Http_Host", 0, 1815, 0x2, "type==traffic :vars=http_host :keepTopX=12"},
    {"net-username", "Top_User_Name", 0, 1816, 0x2, "type==traffic :vars=user_name :keepTopX=12"},
    {"net-httprefer", "Top_Http_Refer", 0, 1817, 0x2,
     "type==traffic :vars=fs_httprefer :keepTopX=12"},
    {"net-httpversion", "Top_Http_Version", 0, 1818, 0x2,
     "type==traffic :vars=fs_httpversion :keepTopX=12"},
    {"net-client-device", "Top_Client_Device", 0, 1819, 0x2,
     "type==traffic :vars=client_device :keepTopX=12"},
};

inline constexpr chart_row rq_ev_act[] = {
    {"ev-all", "Overall_Events_Triggered", 0, 3600, 0, "type==event :vars=msg :keepTopX=10"},
    {"ev-all-cat", "Overall_Events_Triggered_By_Category", 0, 3601, 0x2,
     "type==event :vars=event_cat :keepTopX=10"},
    {"ev-all-type", "Overall_Events_Triggered_By_Type", 0, 3602, 0x2,
     "type==event :vars=event_type :keepTopX=10"},
    {"ev-crit-hour", "Critical_Events_Triggered_By_Hour_Of_Day", 0, 3603, 0x100,
     "type==event event_cat==critical :vars=ihour,msg :keepTopY=10"},
    {"ev-crit-day", "Critical_Events_Triggered_By_Date", 0, 3604, 0x200,
     "type==event event_cat==critical :vars=idate,msg :keepTopY=10"},
    {"ev-warn-hour", "Warning_Events_Triggered_By_Hour_Of_Day", 0, 3605, 0x100,
     "type==event event_cat==warning :vars=ihour,msg :keepTopY=10"},
    {"ev-warn-day", "Warning_Events_Triggered_By_Date", 0, 3606, 0x200,
     "type==event event_cat==warning :vars=idate,msg :keepTopY=10"},
    {"ev-info-hour", "Informational_Events_Triggered_By_Hour_Of_Day", 0, 3607, 0x100,
     "type==event event_cat==information :vars=ihour,msg :keepTopY=10"},
    {"ev-info-day", "Informational_Events_Triggered_By_Date", 0, 3608, 0x200,
     "type==event event_cat==information :vars=idate,msg :keepTopY=10"},
    {"ev-emer-hour", "Emergency_Events_Triggered_By_Hour_Of_Day", 0, 3609, 0x100,
     "type==event event_cat==emergency :vars=ihour,msg :keepTopY=10"},
    {"ev-emer-day", "Emergency_Events_Triggered_By_Date", 0, 3610, 0x200,
     "type==event event_cat==emergency :vars=idate,msg :keepTopY=10"},
    {"ev-aler-hour", "Alert_Events_Triggered_By_Hour_Of_Day", 0, 3611, 0x100,
     "type==event event_cat==alert :vars=ihour,msg :keepTopY=10"},
    {"ev-aler-day", "Alert_Events_Triggered_By_Date", 0, 3612, 0x200,
     "type==event event_cat==alert :vars=idate,msg :keepTopY=10"},
    {"ev-err-hour", "Error_Events_Triggered_By_Hour_Of_Day", 0, 3613, 0x100,
     "type==event event_cat==error :vars=ihour,msg :keepTopY=10"},
    {"ev-err-day", "Error_Events_Triggered_By_Date", 0, 3614, 0x200,
     "type==event event_cat==error :vars=idate,msg :keepTopY=10"},
    {"ev-noti-hour", "Notification_Events_Triggered_By_Hour_Of_Day", 0, 3615, 0x100,
     "type==event event_cat==notice :vars=ihour,msg :keepTopY=10"},
    {"ev-noti-day", "Notification_Events_Triggered_By_Date", 0, 3616, 0x200,
     "type==event event_cat==notice :vars=idate,msg :keepTopY=10"},
    {"ev-hour", "Events_By_Hour_Of_Day", 0, 3617, 0x100,
     "type==event :vars=ihour,msg :keepTopY=10"},
    {"ev-hour-cat", "Hourly_Events_By_Category", 0, 3618, 0x100,
     "type==event :vars=ihour,event_cat :keepTopY=10"},
    {"ev-day", "Events_By_Date", 0, 3619, 0x200, "type==event :vars=idate,msg :keepTopY=10"},
    {"ev-day-cat", "Daily_Events_By_Category", 0, 3620, 0x200,
     "type==event :vars=idate,event_cat :keepTopY=10"},
    {"ev-stat", "Events_Status", 0, 3621, 0,
     "type==event :vars=event_cat,event_status :keepTopX=10 :keepTopY=10"},
    {"ev-day-login", "Top_Login_By_Day", 0, 3622, 0,
     "type==event event_status==failure subtype==auth :vars=idate,msg :keepTopY=10"},
    {"ev-week-login", "Top_Login_By_Week", 0, 3623, 0,
     "type==event event_status==failure subtype==auth :vars=iwday,msg :keepTopY=10"},
    {"ev-user-login", "Top_Login_By_User", 0, 3624, 0,
     "type==event subtype==auth :vars=e_user,msg :keepTopY=10"},
};

struct chart_set {
    const char *name;
    const char *title;
    const chart_row *rows;
    std::int32_t count;

    constexpr std::span<const chart_row> charts() const {
        return {rows, static_cast<std::size_t>(count)};
    }
};

inline constexpr std::array<chart_set, 4> rq_sets = {{
    {"Report_pci_activity", "PCI_Activity", rq_pci_act, std::size(rq_pci_act)},
    {"Report_attack_activity", "Attack_Activity", rq_int_act, std::size(rq_int_act)},
    {"Report_traffic_activity", "Traffic_Activity", rq_net_act, std::size(rq_net_act)},
    {"Report_event_activity", "Event_Activity", rq_ev_act, std::size(rq_ev_act)},
}};

// Every row of every set.
inline constexpr std::size_t kChartCount =
    std::size(rq_pci_act) + std::size(rq_int_act) + std::size(rq_net_act) + std::size(rq_ev_act);

// The chart of a query id; nullptr when no chart has it.
constexpr const chart_row *chart_by_id(std::int32_t id) {
    for (const chart_set &set : rq_sets)
        for (const chart_row &row : set.charts())
            if (row.id == id) return &row;
    return nullptr;
}

// The chart whose key equals `key`, with its set number; nullptr when none.
constexpr const chart_row *chart_by_key(std::string_view key, std::size_t *set_index) {
    for (std::size_t s = 0; s < rq_sets.size(); ++s)
        for (const chart_row &row : rq_sets[s].charts())
            if (key == row.key) {
                if (set_index != nullptr) *set_index = s;
                return &row;
            }
    return nullptr;
}

namespace detail {
constexpr bool ids_unique() {
    for (const chart_set &set : rq_sets)
        for (const chart_row &row : set.charts())
            if (chart_by_id(row.id) != &row) return false;
    return true;
}
} // namespace detail

static_assert(kChartCount == 84);
static_assert(detail::ids_unique(), "query ids identify charts across all sets");

} // namespace lb::report_vocab
