// logbase hash: the 64-bit string hash of a text.
// logbase lang: one section of a language file, as the library loads it.
#include <charconv>
#include <cinttypes>
#include <cstdlib>
#include <optional>
#include <string>

#include "cli.hpp"
#include "guards.hpp"
#include "logbase.h"

namespace {

int run_hash(int argc, char **argv, cli::Output &out);
int run_lang(int argc, char **argv, cli::Output &out);

const cli::Command kHash{
    "hash", "hash TEXT [--init N]",
    "Prints the 64-bit hash of the bytes of TEXT (no terminator) as the library's\n"
    "lum_hash computes it, in hexadecimal. --init gives the initial value\n"
    "(decimal, or hexadecimal with 0x; default 0).\n\n"
    "  logbase hash abc            prints 0x718a5c8b1bb225c7\n",
    run_hash};

const cli::Command kLang{
    "lang", "lang FILE SECTION [KEY]",
    "Loads SECTION of the language file FILE (any path) the way the language\n"
    "tables load it: entries are key=value lines up to the next 'name:' line,\n"
    "keys are unique without regard to case, at most 2560 entries are kept.\n"
    "Prints the value of KEY (case ignored), or without KEY every entry as\n"
    "key=value sorted by key. Exit status 1 when the file or section is\n"
    "missing or KEY is absent.\n",
    run_lang};

std::optional<uint64_t> parse_u64(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int run_hash(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {"--init"}, {});
    uint64_t init = 0;
    if (auto text = args.value("--init")) {
        auto parsed = parse_u64(*text);
        if (!parsed)
            args.reject("--init", "needs an unsigned 64-bit number (decimal or 0x hexadecimal), "
                                  "not '" +
                                      *text + "'");
        init = parsed.value_or(0);
    }
    if (int usage = args.check(kHash, 1, 1, "expected one TEXT")) return usage;
    const std::string &text = args.positional().front();
    out.printf("0x%016" PRIx64 "\n", lum_hash(text.data(), text.size(), init));
    return cli::kOk;
}

int run_lang(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {}, {});
    if (int usage = args.check(kLang, 2, 3, "expected FILE, SECTION and an optional KEY"))
        return usage;
    const auto &pos = args.positional();
    lb::malloc_ptr<attr_entry> table(
        static_cast<attr_entry *>(std::calloc(LANG_TABLE_ENTRIES, sizeof(attr_entry))));
    if (!table) return cli::fail(cli::kFailed, "out of memory");
    int count = 0;
    if (read_lang_table(pos[0].c_str(), pos[1].c_str(), table.get(), &count) != 0)
        return cli::fail(cli::kFailed, "cannot read " + pos[0] + " or it has no section " + pos[1]);
    std::qsort(table.get(), static_cast<size_t>(count), sizeof(attr_entry), attrcmp);
    if (pos.size() == 3) {
        const void *found =
            std::bsearch(pos[2].c_str(), table.get(), count, sizeof(attr_entry), attrcmp);
        if (found == nullptr) return cli::fail(cli::kFailed, "no key " + pos[2] + " in " + pos[1]);
        out.printf("%s\n", static_cast<const attr_entry *>(found)->value);
        return cli::kOk;
    }
    for (int i = 0; i < count; ++i)
        out.printf("%s=%s\n", table.get()[i].key, table.get()[i].value);
    return cli::kOk;
}

cli::Registrar hash_reg{kHash};
cli::Registrar lang_reg{kLang};

} // namespace
