// Language tables. Runs inside throwaway_root: the initialisers read fixed
// paths under /migadmin.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "lang_reference.hpp"
#include "logbase.h"
#include "testkit.hpp"

namespace {

TEST(Lang, FirstSpellingKeepsLastValueAndLookupIgnoresCase) {
    ASSERT_TRUE(testkit::write_file("/migadmin/lang/de",
                                    "en:\nAttack=Angriff\nattack=ATTACK\nsrc=Quelle\nfr:\nx=y\n"));
    ASSERT_TRUE(testkit::write_file("/migadmin/custom/lang/de", "en:\nsrc=custom\n"));
    for (const char *subdir : {static_cast<const char *>(nullptr), ""}) {
        ASSERT_EQ(lang_init(subdir, "en", "de"), 0);
        ASSERT_EQ(table_len, 2);
        EXPECT_STREQ(attr_table[0].key, "Attack");
        EXPECT_STREQ(lang_table_get("ATTACK"), "ATTACK");
        EXPECT_STREQ(lang_table_get("SRC"), "Quelle");
        EXPECT_EQ(lang_table_get("x"), nullptr) << "next section";
        EXPECT_EQ(lang_table_get(nullptr), nullptr);
    }
    ASSERT_EQ(lang_init("custom", "en", "de"), 0);
    EXPECT_STREQ(lang_table_get("src"), "custom");
    EXPECT_EQ(lang_table_get("attack"), nullptr) << "a reload replaces the whole table";
}

TEST(Lang, LineRules) {
    // The tails of over-long lines would read as a header and as an entry.
    ASSERT_TRUE(testkit::write_file("/migadmin/lang/rules",
                                    std::string(3071, 'x') + "en:\n" +
                                        "en\n" // no ':' and a line break: not the header
                                        "en: header\nkey==value\nkey = value\t \ntime=%H:%M\n\n\n"
                                        "word\n" +
                                        std::string(3071, 'k') + "injected=evil\n" +
                                        "k=" + std::string(3000, 'v') +
                                        "\n"
                                        "note: text\nafter=1\n"));
    ASSERT_EQ(lang_init(nullptr, "en", "rules"), 0);
    EXPECT_STREQ(lang_table_get("key"), "value");
    EXPECT_STREQ(lang_table_get("key "), " value");
    EXPECT_STREQ(lang_table_get("time"), "%H:%M");
    EXPECT_STREQ(lang_table_get("\n"), "") << "blank lines make one entry";
    EXPECT_STREQ(lang_table_get("word"), "");
    EXPECT_EQ(lang_table_get("after"), nullptr);
    // Only the first 3071 characters of a line count (here a key-only entry
    // cut to 1023); values are cut at 2047.
    EXPECT_STREQ(lang_table_get(std::string(1023, 'k').c_str()), "");
    EXPECT_EQ(lang_table_get("injected"), nullptr);
    EXPECT_EQ(lang_table_get("k"), std::string(2047, 'v'));
    EXPECT_EQ(table_len, 7);
}

TEST(Lang, CapacityIsExactly2560) {
    std::string text = "en:\n";
    for (int i = 0; i <= 2560; ++i)
        text += "key" + std::to_string(i) + "=a\n";
    ASSERT_TRUE(testkit::write_file("/migadmin/lang/full", text + "KEY0=updated\n"));
    ASSERT_EQ(lang_init(nullptr, "en", "full"), 0);
    EXPECT_EQ(table_len, 2560);
    EXPECT_STREQ(lang_table_get("key2559"), "a");
    EXPECT_EQ(lang_table_get("key2560"), nullptr);
    EXPECT_STREQ(lang_table_get("key0"), "updated");
}

TEST(Lang, TablesAreIndependentAndFailuresLeaveThemEmpty) {
    ASSERT_TRUE(testkit::write_file("/migadmin/lang/two", "cur:\nk=current\nen:\nk=english\n"));
    ASSERT_EQ(lang_init(nullptr, "cur", "two"), 0);
    ASSERT_EQ(lang_en_init(nullptr, "en", "two"), 0);
    EXPECT_STREQ(lang_table_get("k"), "current");
    EXPECT_STREQ(lang_en_table_get("k"), "english");
    EXPECT_EQ(lang_en_init(nullptr, "missing", "two"), -1);
    EXPECT_EQ(en_table_len, 0);
    EXPECT_EQ(lang_en_table_get("k"), nullptr);
    EXPECT_STREQ(lang_table_get("k"), "current");
    EXPECT_EQ(lang_init(nullptr, "cur", "absent"), -1);
    EXPECT_EQ(table_len, 0);
    // Names that would leave the language folder are refused, even where the
    // file they reach exists.
    ASSERT_TRUE(testkit::write_file("/migadmin/migadmin/lang/two", "cur:\nk=outside\n"));
    const std::pair<const char *, const char *> outside[] = {
        {"..", "migadmin/lang/two"}, {"lang/../..", "migadmin/lang/two"},
        {"/migadmin", "two"},        {nullptr, "../lang/two"},
        {nullptr, "/../lang/two"},   {"", "../../migadmin/lang/two"}};
    for (const auto &[subdir, file] : outside) {
        EXPECT_EQ(lang_init(subdir, "cur", file), -1) << (subdir ? subdir : "") << " " << file;
        EXPECT_EQ(lang_en_init(subdir, "cur", file), -1) << file;
    }
    // A header on the last line without a line break opens an empty section.
    ASSERT_TRUE(testkit::write_file("/migadmin/lang/last", "k=v\nen:"));
    EXPECT_EQ(lang_init(nullptr, "en", "last"), 0);
    EXPECT_EQ(table_len, 0);
}

// Anything but a regular file is refused at once: a FIFO without a writer
// would block the open, /dev/zero would be read without end.
TEST(Lang, RefusesFilesThatAreNotRegular) {
    testkit::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/zero")}) {
        EXPECT_EXIT(
            {
                alarm(5);
                std::vector<attr_entry> table(LANG_TABLE_ENTRIES);
                int count = 0;
                int rc = read_lang_table(path.c_str(), "en", table.data(), &count);
                std::exit(rc == -1 && count == 0 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << path;
    }
}

// Random sections full of case variants, overlong keys (whose cut copies
// duplicate each other) and more keys than fit, loaded into tables that
// already hold entries, must give exactly what the quadratic rule gives.
TEST(Lang, IndexedLoadEqualsQuadraticRule) {
    testkit::TempDir dir;
    std::mt19937 rng(42);
    std::vector<attr_entry> mine(LANG_TABLE_ENTRIES), ref(LANG_TABLE_ENTRIES);
    for (int round = 0; round < 6; ++round) {
        std::string text = "s:\n";
        int lines = round < 3 ? 600 : 4000;
        for (int i = 0; i < lines; ++i) {
            std::string key = "Key" + std::to_string(rng() % (round < 3 ? 300 : 3000));
            if (rng() % 2) key[0] = 'k';
            if (rng() % 50 == 0) key = std::string(1023 + rng() % 3, 'L');
            text += key + "=v" + std::to_string(i) + "\n";
        }
        ASSERT_TRUE(testkit::write_file(dir.file("f"), text));
        int count = round % 2 ? 0 : 40, ref_count = count;
        for (int i = 0; i < count; ++i) {
            std::snprintf(mine[i].key, LANG_KEY_SIZE, "KEY%d", i % 30);
            std::snprintf(mine[i].value, LANG_VALUE_SIZE, "old");
            ref[i] = mine[i];
        }
        ASSERT_EQ(read_lang_table(dir.file("f").c_str(), "s", mine.data(), &count), 0);
        ASSERT_EQ(reference::read_lang_table(dir.file("f").c_str(), "s", ref.data(), &ref_count),
                  0);
        ASSERT_EQ(count, ref_count) << "round " << round;
        for (int i = 0; i < count; ++i) {
            ASSERT_STREQ(mine[i].key, ref[i].key) << "round " << round << " entry " << i;
            ASSERT_STREQ(mine[i].value, ref[i].value) << "round " << round << " entry " << i;
        }
    }
    int count = 0;
    EXPECT_EQ(read_lang_table(dir.file("f").c_str(), "t", mine.data(), &count), -1);
    EXPECT_EQ(read_lang_table(dir.file("none").c_str(), "s", mine.data(), &count), -1);
    // Missing arguments and counts outside the table are refused.
    const std::string f = dir.file("f");
    EXPECT_EQ(read_lang_table(nullptr, "s", mine.data(), &count), -1);
    EXPECT_EQ(read_lang_table(f.c_str(), nullptr, mine.data(), &count), -1);
    EXPECT_EQ(read_lang_table(f.c_str(), "s", nullptr, &count), -1);
    EXPECT_EQ(read_lang_table(f.c_str(), "s", mine.data(), nullptr), -1);
    for (int outside : {-1, LANG_TABLE_ENTRIES + 1})
        EXPECT_EQ(read_lang_table(f.c_str(), "s", mine.data(), &outside), -1) << outside;
    EXPECT_LT(attrcmp(nullptr, "a"), 0);
    EXPECT_GT(attrcmp("a", nullptr), 0);
    EXPECT_EQ(attrcmp("ab", "AB"), 0);
}

} // namespace
