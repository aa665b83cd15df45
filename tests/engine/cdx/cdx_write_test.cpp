// Files written by writeCdx: read back identically by our reader and in the
// same order by Debian's Perl XBase::Index (index_dump), and laid out as the
// independent engine lays out the fixtures.
#include "cdx_support.h"

#include "data/Error.h"

#include <algorithm>
#include <map>
#include <numeric>

using namespace xbase;
using cdxtest::fixtureDir;

namespace {

// A tag on one field: the keys of records 1..n (recnos[i] when given),
// sorted by key bytes and equal keys by record number.
CdxTag makeTag(const std::string& field, ValueType type, uint16_t keyLength,
               const std::vector<Value>& values, const std::vector<uint32_t>& recnos = {}) {
    CdxTag t;
    t.name = t.keyExpression = field;
    t.keyType = type;
    t.entries.keyLength = keyLength;
    std::vector<std::string> keys;
    for (const Value& v : values)
        keys.push_back(cdxKey(v, keyLength));
    std::vector<size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    auto recno = [&](size_t i) { return recnos.empty() ? uint32_t(i + 1) : recnos[i]; };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = keys[a].compare(keys[b]);
        return c != 0 ? c < 0 : recno(a) < recno(b);
    });
    for (size_t i : order)
        t.entries.push(reinterpret_cast<const unsigned char*>(keys[i].data()), recno(i));
    return t;
}

// Depth of a tag's B-tree in a file we wrote (leftmost path from the root);
// an empty tag name gives the depth of the tag directory.
int treeLevels(const std::string& file, const std::string& tag) {
    const std::string f = testsupport::readFile(file);
    auto u16 = [&](size_t o) { return unsigned(uint8_t(f[o])) | unsigned(uint8_t(f[o + 1])) << 8; };
    auto u32 = [&](size_t o) { return uint32_t(u16(o)) | uint32_t(u16(o + 2)) << 16; };
    auto be32 = [&](size_t o) {
        return uint32_t(uint8_t(f[o])) << 24 | uint32_t(uint8_t(f[o + 1])) << 16 |
               uint32_t(uint8_t(f[o + 2])) << 8 | uint32_t(uint8_t(f[o + 3]));
    };
    // Walk the directory to its leaves, then find the tag's header offset.
    auto descend = [&](uint32_t node, uint16_t kl, int& levels) {
        levels = 1;
        while (!(u16(node) & 2)) {
            node = be32(node + 12 + kl + 4);
            ++levels;
        }
        return node;
    };
    int levels = 0;
    uint32_t leaf = descend(u32(0), 10, levels);
    if (tag.empty()) return levels; // the tag directory itself
    for (; leaf != 0xFFFFFFFFu; leaf = u32(leaf + 8)) {
        const unsigned count = u16(leaf + 2), bytes = uint8_t(f[leaf + 23]);
        const unsigned recBits = uint8_t(f[leaf + 20]), dupBits = uint8_t(f[leaf + 21]);
        const uint32_t recMask = u32(leaf + 14);
        size_t keyPos = leaf + 512;
        std::string prev;
        for (unsigned i = 0; i < count; ++i) {
            uint64_t v = 0;
            for (unsigned b = 0; b < bytes; ++b)
                v |= uint64_t(uint8_t(f[leaf + 24 + i * bytes + b])) << (8 * b);
            const unsigned dup = unsigned(v >> recBits) & uint8_t(f[leaf + 18]);
            const unsigned trail = unsigned(v >> (recBits + dupBits)) & uint8_t(f[leaf + 19]);
            const unsigned stored = 10 - dup - trail;
            keyPos -= stored;
            std::string name = prev.substr(0, dup) + f.substr(keyPos, stored);
            prev = name + std::string(trail, ' ');
            if (name == tag) {
                const uint32_t header = uint32_t(v) & recMask; // offset of the tag header
                descend(u32(header), uint16_t(u16(header + 12)), levels);
                return levels;
            }
        }
    }
    return 0;
}

// Random but repeatable sample data of a people table.
struct Sample {
    std::vector<Value> name, code, born, amount, active;
};

Sample makeSample(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    const char* syllables[] = {"BA", "KO",   "MA",   "NE",   "QI", "XU",
                               "ZE", "\x9A", "\x82", "\xA4", "a"};
    const char* codes[] = {"EN01", "MA02", "    ", "ZZ"};
    Sample s;
    for (size_t i = 0; i < n; ++i) {
        std::string name;
        const unsigned kind = rng() % 20;
        if (kind == 0) {
            name = ""; // blank
        } else {
            if (kind == 1) name = "  "; // leading blanks
            const unsigned parts = 1 + rng() % 6;
            for (unsigned p = 0; p < parts; ++p) {
                name += syllables[rng() % std::size(syllables)];
                if (rng() % 4 == 0) name += ' ';
            }
        }
        s.name.push_back(Value::character(name));
        s.code.push_back(Value::character(codes[rng() % std::size(codes)]));
        s.born.push_back(rng() % 10 == 0 ? Value::fromDate(0, true)
                                         : Value::fromDate(int32_t(rng() % 80000) - 20000));
        const int cents = int(rng() % 2000001) - 1000000;
        s.amount.push_back(Value::numeric(rng() % 15 == 0 ? 0.0 : cents / 100.0));
        s.active.push_back(Value::boolean(rng() % 3 != 0));
    }
    return s;
}

std::vector<CdxTag> sampleTags(const Sample& s, const std::vector<uint32_t>& recnos = {}) {
    return {makeTag("NAME", ValueType::Character, 20, s.name, recnos),
            makeTag("CODE", ValueType::Character, 4, s.code, recnos),
            makeTag("BORN", ValueType::Date, 8, s.born, recnos),
            makeTag("AMOUNT", ValueType::Numeric, 8, s.amount, recnos),
            makeTag("ACTIVE", ValueType::Logical, 1, s.active, recnos)};
}

struct WriteCase {
    std::string name;
    std::vector<CdxTag> tags;
    int minLevels = 1;       // of every tag with more than a few keys
    size_t dumpStride = 1;   // tags checked with index_dump: every n-th and the last
    int directoryLevels = 1; // levels of the tag directory
};

std::vector<WriteCase> writeCases() {
    std::vector<WriteCase> cases;
    cases.push_back({"one page",
                     {makeTag("CODE", ValueType::Character, 4,
                              {Value::character("RD"), Value::character("WR"),
                               Value::character("sp"), Value::character("SMA")})}});
    cases.push_back({"all types, three levels", sampleTags(makeSample(25000, 7)), 3});
    {
        // Sparse record numbers up to 40 million: five bytes per leaf entry.
        const Sample s = makeSample(3000, 11);
        std::vector<uint32_t> recnos;
        for (size_t i = 0; i < 3000; ++i)
            recnos.push_back(uint32_t(i * 13331 + 1));
        cases.push_back({"large record numbers", sampleTags(s, recnos)});
    }
    {
        // Every key equal, and keys that are all blanks or all bytes above 127.
        std::vector<Value> same(5000, Value::character("MA02")), blank, high;
        for (int i = 0; i < 3000; ++i) {
            blank.push_back(Value::character(""));
            high.push_back(Value::character(std::string(i % 7 + 1, char(0xFF))));
        }
        cases.push_back({"equal keys",
                         {makeTag("CODE", ValueType::Character, 4, same),
                          makeTag("BLANK", ValueType::Character, 30, blank),
                          makeTag("HIGH", ValueType::Character, 7, high)},
                         2});
    }
    cases.push_back({"empty tags",
                     {makeTag("NAME", ValueType::Character, 20, {}),
                      makeTag("AMOUNT", ValueType::Numeric, 8, {})}});
    {
        // More tags than one directory page holds: the directory gets levels.
        WriteCase many{"a hundred tags", {}};
        for (int i = 0; i < 100; ++i) {
            const std::string field =
                std::string{char('A' + i % 26), char('A' + i / 26)} + "XYZQWERT";
            many.tags.push_back(makeTag(field, ValueType::Character, 6,
                                        {Value::character(field), Value::character("A")}));
        }
        many.dumpStride = 33; // index_dump starts slowly: a few tags show it finds them
        many.directoryLevels = 2;
        cases.push_back(many);
    }
    {
        // The longest key FoxPro allows.
        std::vector<Value> longKeys;
        for (int i = 0; i < 500; ++i)
            longKeys.push_back(
                Value::character(std::string(200, 'K') + std::to_string(i * 7919 % 500)));
        cases.push_back(
            {"240-byte keys", {makeTag("LONGKEY", ValueType::Character, 240, longKeys)}, 3});
    }
    return cases;
}

ValueType typeOfCase(const WriteCase& c, const std::string& expr) {
    for (const CdxTag& t : c.tags)
        if (t.keyExpression == expr) return t.keyType;
    throw std::runtime_error("unknown expression " + expr);
}

TEST(CdxWrite, FilesWeWriteReadBackIdentically) {
    testsupport::TempDir dir;
    const bool dump = cdxtest::haveIndexDump();
    for (const WriteCase& c : writeCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("T.cdx");
        writeCdx(path, c.tags);
        const auto size = std::filesystem::file_size(path);
        EXPECT_EQ(size % 512, 0u);
        const auto back = readCdx(path, [&](const std::string& e) { return typeOfCase(c, e); });
        cdxtest::expectSameTags(back, c.tags, c.name);
        EXPECT_EQ(treeLevels(path, ""), c.directoryLevels);
        for (size_t i = 0; i < c.tags.size(); ++i) {
            const CdxTag& t = c.tags[i];
            if (t.entries.size() > 2000) {
                EXPECT_GE(treeLevels(path, t.name), c.minLevels) << t.name;
            }
            if (dump && (i % c.dumpStride == 0 || i + 1 == c.tags.size()))
                cdxtest::expectIndexDumpReads(path, t);
        }
    }
    // Nothing but the index is left in the folder (no temporary files).
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
    if (!dump)
        GTEST_SKIP()
            << "index_dump (libdbd-xbase-perl) is not installed: checked by our reader only";
}

// The fixtures rewritten: the same tags through both readers; the one-page
// files are byte for byte what the independent engine wrote, apart from its
// own marks in reserved header bytes (header and page length, "RCHB").
TEST(CdxWrite, RewrittenFixturesMatch) {
    testsupport::TempDir dir;
    for (const char* file : {"BIG.cdx", "KESPLACE.cdx", "KESTEST.cdx"}) {
        SCOPED_TRACE(file);
        const std::string source = fixtureDir() + "/" + file;
        const auto tags = readCdx(source, cdxtest::sampleFieldType);
        const std::string path = dir.file(file);
        writeCdx(path, tags);
        cdxtest::expectSameTags(readCdx(path, cdxtest::sampleFieldType), tags, file);
        if (cdxtest::haveIndexDump())
            for (const CdxTag& t : tags)
                cdxtest::expectIndexDumpReads(path, t);
        if (std::string(file) == "BIG.cdx") continue;
        std::string original = testsupport::readFile(source);
        const std::string ours = testsupport::readFile(path);
        ASSERT_EQ(ours.size(), original.size());
        std::fill(original.begin() + 16, original.begin() + 24, '\0');       // file header
        std::fill(original.begin() + 0x610, original.begin() + 0x614, '\0'); // tag header
        for (size_t i = 0; i < ours.size(); ++i)
            ASSERT_EQ(uint8_t(ours[i]), uint8_t(original[i])) << "byte at 0x" << std::hex << i;
    }
}

TEST(CdxWrite, ReplacesAnExistingFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("R.cdx");
    testsupport::writeFile(path, std::string(5000, 'x'));
    const std::vector<CdxTag> tags = {
        makeTag("ACTIVE", ValueType::Logical, 1, {Value::boolean(true), Value::boolean(false)})};
    writeCdx(path, tags);
    cdxtest::expectSameTags(readCdx(path, cdxtest::sampleFieldType), tags, "replaced");
}

TEST(CdxWrite, RefusesTagsItCannotStore) {
    testsupport::TempDir dir;
    const std::string path = dir.file("BAD.cdx");
    const CdxTag good =
        makeTag("CODE", ValueType::Character, 4, {Value::character("A"), Value::character("B")});
    struct Case {
        const char* what;
        std::function<void(std::vector<CdxTag>&)> damage;
    };
    const Case cases[] = {
        {"name too long", [](auto& t) { t[0].name = "ELEVENCHARS"; }},
        {"lower-case name", [](auto& t) { t[0].name = "code"; }},
        {"name beginning with a digit", [](auto& t) { t[0].name = "1CODE"; }},
        {"empty expression", [](auto& t) { t[0].keyExpression = ""; }},
        {"two tags of one name", [](auto& t) { t.push_back(t[0]); }},
        {"key length 0", [](auto& t) { t[0].entries.keyLength = 0; }},
        {"numeric key of 4 bytes", [](auto& t) { t[0].keyType = ValueType::Numeric; }},
        {"keys out of order",
         [](auto& t) {
             std::swap(t[0].entries.recnos[0], t[0].entries.recnos[1]);
             std::swap_ranges(t[0].entries.keys.begin(), t[0].entries.keys.begin() + 4,
                              t[0].entries.keys.begin() + 4);
         }},
        {"missing key bytes", [](auto& t) { t[0].entries.keys.pop_back(); }},
    };
    for (const Case& c : cases) {
        std::vector<CdxTag> tags{good};
        c.damage(tags);
        try {
            writeCdx(path, tags);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_CREATE_FAILED) << c.what;
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
    }
}

} // namespace
