// Lookups over the report vocabulary and the chart selection of a report.
#include "report_vocabulary.hpp"

#include "report_record.hpp"
#include "bounded_text.hpp"
#include "logbase.h"

#include <cstring>

namespace {

namespace vocab = lb::report_vocab;
namespace rec = lb::report_record;

template <std::size_t N>
const char *name_at(const std::array<const char *, N> &table, std::uint32_t index) {
    return index < N ? table[index] : nullptr;
}

// Index of the first entry equal to `name`, or N.
template <std::size_t N>
std::size_t index_of(const std::array<const char *, N> &table, const char *name) {
    if (name == nullptr) return N;
    for (std::size_t i = 0; i < N; ++i)
        if (std::strcmp(table[i], name) == 0) return i;
    return N;
}

} // namespace

extern "C" {

LOGBASE_API const char *rptfmttype_names(uint32_t mask, const char *separator) {
    static char names[30];
    const char *joiner = separator != nullptr && std::strlen(separator) == 1 ? separator : ",";
    names[0] = '\0';
    for (std::size_t bit = 0; bit < vocab::_rptfmts.size(); ++bit) {
        if ((mask & (1U << bit)) == 0) continue;
        if (names[0] != '\0') lb::append_bounded(names, sizeof names, joiner);
        lb::append_bounded(names, sizeof names, vocab::_rptfmts[bit]);
    }
    return names;
}

LOGBASE_API const char *rptelemtype_name(uint32_t type) {
    return name_at(vocab::rptelem_names, type);
}

LOGBASE_API const char *rptelemtype_nm(uint32_t type) {
    return name_at(vocab::rptelem_nms, type);
}

LOGBASE_API int rptelemtype_val(const char *name) {
    std::size_t index = index_of(vocab::rptelem_names, name);
    return index < vocab::rptelem_names.size() ? static_cast<int>(index) : -1;
}

LOGBASE_API const char *rptpertype_name(uint32_t type) {
    return name_at(vocab::_flg_rpt_period, type);
}

LOGBASE_API uint32_t rptpertype_val(const char *name) {
    // A name that is not found gives the table length, the custom period.
    return static_cast<uint32_t>(index_of(vocab::_flg_rpt_period, name));
}

LOGBASE_API const char *rptoutsvr_name(uint16_t kind) {
    return name_at(vocab::_rptout_svr, kind);
}

LOGBASE_API void get_qryset(const void *report, uint32_t *ids, uint32_t *count) {
    if (report == nullptr || ids == nullptr || count == nullptr) return;
    const rec::view definition(report);
    uint32_t found = 0;
    for (std::size_t s = 0; s < vocab::rq_sets.size(); ++s) {
        std::span<const vocab::chart_row> rows = vocab::rq_sets[s].charts();
        for (std::size_t j = 0; j < rows.size(); ++j)
            if (definition.chart_selected(s, j)) ids[found++] = static_cast<uint32_t>(rows[j].id);
    }
    *count = found;
}

LOGBASE_API int32_t timescale_topn(int32_t timescale, int32_t fallback) {
    switch (timescale) {
    case 1:
        return 24;
    case 2:
        return 7;
    case 3:
        return 31;
    default:
        return fallback;
    }
}

LOGBASE_API int is_var_by_time(const char *name) {
    static constexpr std::array<const char *, 6> time_vars = {"ihour", "iwday", "imonth",
                                                              "imday", "iweek", "idate"};
    return index_of(time_vars, name) < time_vars.size() ? 1 : 0;
}

} // extern "C"
