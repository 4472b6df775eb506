// Report output names, logo copies and the character rules for report names,
// section titles and file names.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <sys/stat.h>

#include "files.hpp"
#include "format.hpp"
#include "report_record.hpp"
#include "bounded_text.hpp"
#include "logbase.h"
#include "logbase_host.h"
#include "report_time.hpp"

namespace {

constexpr const char *kReportsRoot = "/var/log/Reports_adom";
constexpr const char *kLogoDir = "/migadmin/reportlogo/thumbs";
constexpr size_t kPathSize = 4096;
constexpr int kMaxSuffix = 999;

namespace logo = lb::logo_record;

// A relative path below its folder: its components may be empty or "." but
// never "..", and its last one names something.
bool path_below(std::string_view path) noexcept {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

// A path is free for a new output directory when nothing or a non-directory
// is there; any other failure of the status query counts as taken, since the
// name cannot be shown to be free.
bool free_for_directory(const char *path) noexcept {
    struct stat st {};
    if (stat(path, &st) != 0) return errno == ENOENT;
    return !S_ISDIR(st.st_mode);
}

// A name that fills its field without a terminator, or that would leave the
// logo folder, names no logo.
void copy_logo(const char *dir, const char *field, const char *base) noexcept {
    const size_t length = lb::length_bounded(field, logo::kNameSize);
    const std::string_view name(field, length);
    if (length == logo::kNameSize || !lb::plain_component(name)) return;
    char source[kPathSize], target[kPathSize];
    lb::format_bounded(source, sizeof source, "%s/%s", kLogoDir, field);
    const char *ext = image_file_ext(source);
    lb::format_bounded(target, sizeof target, "%s/%s%s", dir, base, ext ? ext : "");
    copy_file(source, target);
}

constexpr std::string_view kFileNameUnsafe = " \"\\!#$%&'()*,/;<>?";

template <typename Allowed> int check_charset(const char *text, Allowed allowed) noexcept {
    if (text == nullptr) return -1;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
        if (!allowed(*p)) return -1;
    return 0;
}

} // namespace

extern "C" {

LOGBASE_API char *get_report_name(const char *prefix, const char *domain) {
    if (prefix == nullptr || domain == nullptr || *domain == '\0') return nullptr;
    if (!lb::plain_component(domain)) return nullptr;
    lb::report::refresh_time_zone();
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) return nullptr;

    char name[128];
    lb::format_bounded(name, sizeof name, "%s-%d-%.2d-%.2d-%.2d%.2d", prefix, local.tm_year + 1900,
                       local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    // The prefix may name a folder below the domain's, never one outside.
    if (!path_below(name)) return nullptr;
    char dir[kPathSize], path[kPathSize];
    lb::format_bounded(dir, sizeof dir, "%s/%s", kReportsRoot, domain);
    // A cut path would be a different place; a name there is no answer.
    if (lb::format_bounded(path, sizeof path, "%s/%s", dir, name) >= int{sizeof path})
        return nullptr;
    if (free_for_directory(path)) return strdup(name);

    for (int i = 1; i <= kMaxSuffix; ++i) {
        char suffixed[sizeof name + 8];
        lb::format_bounded(suffixed, sizeof suffixed, "%s_%.3d", name, i);
        if (lb::format_bounded(path, sizeof path, "%s/%s", dir, suffixed) >= int{sizeof path})
            return nullptr;
        if (free_for_directory(path)) return strdup(suffixed);
    }
    return nullptr;
}

LOGBASE_API void copy_report_logo_files(const char *dir, const void *logos) {
    if (dir == nullptr || logos == nullptr) return;
    const char *record = static_cast<const char *>(logos);
    copy_logo(dir, record + logo::kTitleLogo, "_rpt_title_logo");
    copy_logo(dir, record + logo::kHeaderLogo, "_rpt_header_logo");
}

LOGBASE_API void convert_report_file_filename(const char *src, char *dst) {
    if (src == nullptr || dst == nullptr) return;
    for (; *src != '\0'; ++src, ++dst)
        *dst = kFileNameUnsafe.find(*src) == kFileNameUnsafe.npos ? *src : '_';
    *dst = '\0';
}

LOGBASE_API int convert_slash(const char *src, char *dst, size_t size) {
    if (src == nullptr || dst == nullptr) return -1;
    if (size == 0) return 0;
    size_t i = 0;
    if (size >= 2)
        for (; i < size - 1 && src[i] != '\0'; ++i)
            dst[i] = src[i] == '/' ? '_' : src[i];
    dst[i] = '\0';
    return 0;
}

LOGBASE_API int valid_report_name_string_charset(const char *text) {
    return check_charset(text, [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

LOGBASE_API int valid_section_title_string_charset(const char *text) {
    return check_charset(text, [](unsigned char c) { return c >= 32 && c <= 126; });
}

} // extern "C"
