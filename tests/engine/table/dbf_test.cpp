// DBF files as the engine reads and writes them: the independent samples read
// back as their manifests say, damaged files end in a clear error, and tables
// we create open in an independent reader.
#include "table_support.h"

#include "common/CodePage.h"
#include "data/AdsTable.h"
#include "data/dbf.h"
#include "data/expr.h"
#include "os/Os.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace testsupport;
using namespace tabletest;

namespace {

struct FixtureTable {
    const char* dbf;
    const char* csv;
    uint32_t records;
    uint8_t version;
};

const FixtureTable kFixtures[] = {
    {"formats/dbf/MIXED.DBF", "formats/dbf/mixed.records.csv", 8, 0x03},
    {"formats/ntx/PEOPLE.DBF", "formats/ntx/people.records.csv", 5000, 0x03},
    {"formats/cdx/BIG.DBF", "formats/cdx/big.records.csv", 5000, 0x03},
    {"formats/cdx/KESPLACE.DBF", "formats/cdx/kesplace.records.csv", 12, 0x03},
    {"formats/cdx/KESTEST.DBF", "formats/cdx/kestest.records.csv", 11, 0x03},
    {"virn-sample/VIRNTP1/STUDENT.DBF", "virn-sample-manifest/VIRNTP1/student.records.csv", 27,
     0x03},
    {"virn-sample/VIRNTP2/Scores.dbf", "virn-sample-manifest/VIRNTP2/scores.records.csv", 40, 0x03},
};

// Opens a copy of a fixture through the table object.
void openCopy(TAdsTable& t, const TempDir& tmp, const std::string& relative,
              TAdsTableType type = ttAdsNTX) {
    std::string path = tmp.copy(relative);
    t.DatabaseName = tmp.dir();
    t.TableType = type; // NTX: no structural index is opened with the table
    t.SetTableName(fs::path(path).filename().string());
    t.Open();
}

} // namespace

TEST(DbfFixtures, EveryRecordReadsBackAsTheManifestSays) {
    for (const FixtureTable& f : kFixtures) {
        SCOPED_TRACE(f.dbf);
        if (!fs::exists(fixture(f.csv))) {
            ADD_FAILURE() << "manifest missing: " << f.csv;
            continue;
        }
        TempDir tmp;
        TAdsTable t;
        openCopy(t, tmp, f.dbf);
        EXPECT_EQ(t.File().version(), f.version);
        EXPECT_EQ(t.RecordCount(), f.records);
        std::vector<Row> rows = readCsv(fixture(f.csv));
        ASSERT_EQ(rows.size(), f.records);
        t.First();
        for (const Row& row : rows) {
            ASSERT_FALSE(t.Eof());
            ASSERT_EQ(row.size(), static_cast<size_t>(t.FieldCount()) + 2);
            EXPECT_EQ(std::to_string(t.RecNo()), row[0]);
            EXPECT_EQ(t.IsDeleted(), row[1] == "T") << "record " << row[0];
            for (int i = 0; i < t.FieldCount(); ++i) {
                TField& field = t.Fields(i);
                const std::string& expected = row[static_cast<size_t>(i) + 2];
                SCOPED_TRACE("record " + row[0] + " field " + field.FieldName());
                switch (field.TypeLetter()) {
                case 'C':
                    EXPECT_EQ(field.AsString(),
                              kes::toUtf8(rtrim(expected), kes::CodePage::Oem437));
                    break;
                case 'N':
                    EXPECT_DOUBLE_EQ(field.AsFloat(), expected.empty() ? 0 : std::stod(expected));
                    break;
                case 'D':
                    EXPECT_EQ(field.AsDateTime().toYyyymmdd(),
                              expected.empty() ? "18991230" : expected);
                    EXPECT_EQ(field.AsString().empty(), expected.empty());
                    break;
                case 'L':
                    EXPECT_EQ(field.AsBoolean(), expected == "T");
                    break;
                default:
                    ADD_FAILURE() << "unexpected type " << field.TypeLetter();
                }
            }
            t.Next();
        }
        EXPECT_TRUE(t.Eof());
    }
}

TEST(DbfFixtures, LogicalsAreTrueForTtYy1) {
    TempDir tmp;
    TAdsTable t;
    openCopy(t, tmp, "formats/dbf/LOGICALS.DBF");
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next(), ++seen) {
        std::string raw = t.FieldByName("raw").AsString();
        bool expected = raw == "T" || raw == "t" || raw == "Y" || raw == "y" || raw == "1";
        EXPECT_EQ(t.FieldByName("Flag").AsBoolean(), expected) << "stored byte '" << raw << "'";
    }
    EXPECT_EQ(seen, 12);
}

TEST(DbfFixtures, ReadingNeverChangesTheFile) {
    TempDir tmp;
    std::string path = tmp.copy("formats/dbf/MIXED.DBF");
    std::string before = readFile(path);
    const auto modified = std::filesystem::last_write_time(path);
    {
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName("mixed"); // any letter case, no extension
        t.Open();
        for (t.First(); !t.Eof(); t.Next())
            t.FieldByName("NAME").AsString();
        t.Close();
    }
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(std::filesystem::last_write_time(path) == modified);
}

namespace {

// Builds a DBF file byte by byte, for the kinds of table the samples lack.
std::string buildDbf(uint8_t version,
                     const std::vector<std::tuple<std::string, char, int, int>>& fields,
                     const std::vector<std::string>& records, uint8_t language = 0,
                     size_t backlink = 0) {
    size_t recordLength = 1;
    for (auto& f : fields)
        recordLength += static_cast<size_t>(std::get<2>(f));
    size_t headerLength = 32 + 32 * fields.size() + 1 + backlink;
    std::string h(headerLength, '\0');
    h[0] = static_cast<char>(version);
    h[1] = 106;
    h[2] = 9;
    h[3] = 15;
    uint32_t n = static_cast<uint32_t>(records.size());
    std::memcpy(&h[4], &n, 4);
    h[8] = static_cast<char>(headerLength & 0xFF);
    h[9] = static_cast<char>(headerLength >> 8);
    h[10] = static_cast<char>(recordLength & 0xFF);
    h[11] = static_cast<char>(recordLength >> 8);
    h[29] = static_cast<char>(language);
    size_t pos = 32;
    uint32_t offset = 1;
    for (auto& [name, type, len, dec] : fields) {
        std::memcpy(&h[pos], name.data(), name.size());
        h[pos + 11] = type;
        std::memcpy(&h[pos + 12], &offset, 4);
        h[pos + 16] = static_cast<char>(len);
        h[pos + 17] = static_cast<char>(dec);
        offset += static_cast<uint32_t>(len);
        pos += 32;
    }
    h[pos] = 0x0D;
    std::string file = h;
    for (const std::string& r : records) {
        EXPECT_EQ(r.size(), recordLength);
        file += r;
    }
    file += '\x1A';
    return file;
}

std::string le32(int32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}
std::string le64(double v) {
    return std::string(reinterpret_cast<const char*>(&v), 8);
}

} // namespace

TEST(DbfVersions, ReadsDbaseClipperAndFoxProHeadersWithOtherFieldTypes) {
    // C, D, L, N, F, I and T are read; M is tolerated. B is a double in a
    // Visual FoxPro table (0x30 to 0x32, which carry the back-link after the
    // field terminator) and a binary memo elsewhere, whose bytes are not read.
    struct Case {
        uint8_t version;
        size_t backlink;
    } cases[] = {{0x03, 0}, {0x83, 0}, {0x8B, 0}, {0xF5, 0}, {0x30, 263}, {0x31, 263}, {0x32, 263}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        TempDir tmp;
        std::string rec = std::string(" ") + "ABC " + "20060915" + "T" + "  -2.50" + "  12.5" +
                          le32(42) + le64(1.5) + le32(0) + le32(2453994) + le32(0);
        std::string file = buildDbf(c.version,
                                    {{"NAME", 'C', 4, 0},
                                     {"WHEN", 'D', 8, 0},
                                     {"OK", 'L', 1, 0},
                                     {"AMOUNT", 'N', 7, 2},
                                     {"RATE", 'F', 6, 1},
                                     {"COUNT", 'I', 4, 0},
                                     {"DBL", 'B', 8, 0},
                                     {"NOTES", 'M', 4, 0},
                                     {"STAMP", 'T', 8, 0}},
                                    {rec}, 0x03, c.backlink);
        writeFile(tmp.file("T.DBF"), file);
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName("T");
        t.Open();
        EXPECT_EQ(t.File().version(), c.version);
        EXPECT_EQ(t.CodePage(), kes::CodePage::Windows1252); // language driver 0x03
        EXPECT_EQ(t.FieldByName("name").AsString(), "ABC");
        EXPECT_EQ(t.FieldByName("When").AsDateTime().toYyyymmdd(), "20060915");
        EXPECT_TRUE(t.FieldByName("OK").AsBoolean());
        EXPECT_DOUBLE_EQ(t.FieldByName("AMOUNT").AsFloat(), -2.5);
        EXPECT_EQ(t.FieldByName("AMOUNT").AsInteger(), -3); // rounded, as a whole number
        EXPECT_DOUBLE_EQ(t.FieldByName("RATE").AsFloat(), 12.5);
        EXPECT_EQ(t.FieldByName("COUNT").AsInteger(), 42);
        EXPECT_EQ(t.FieldByName("NOTES").AsString(), ""); // memo contents are not read
        EXPECT_EQ(t.FieldByName("STAMP").DataType(), ftDateTime);
        EXPECT_EQ(t.FieldByName("STAMP").AsDateTime().toYyyymmdd(), "20060915");
        EXPECT_EQ(t.FieldByName("STAMP").AsString(), "09/15/2006 00:00:00");
        const bool visualFoxPro = c.version >= 0x30 && c.version <= 0x32;
        const TField& dbl = t.FieldByName("DBL");
        EXPECT_EQ(dbl.DataType(), visualFoxPro ? ftFloat : ftBlob);
        EXPECT_EQ(dbl.AsFloat(), visualFoxPro ? 1.5 : 0);
        EXPECT_EQ(dbl.AsString(), visualFoxPro ? "1.5" : "");
        try {
            const auto e = xbase::Expression::compile("DBL * 2", t.FieldDefs(), t.CodePage());
            EXPECT_TRUE(visualFoxPro);
            EXPECT_EQ(e.evaluate(xbase::RecordView{t.File().record(1), 1}).num, 3);
        } catch (const EADSDatabaseError& e) {
            EXPECT_FALSE(visualFoxPro) << e.what();
        }
    }
}

// A header that counts fewer records than the file holds reads what it counts
// (the rest is an append that was cut off before the header was written); one
// that counts more than the file holds is a cut file and is refused, since
// reading what is left would silently drop records.
TEST(DbfDamage, HeaderRecordCountThatDisagreesWithTheFileSize) {
    constexpr int kRefused = -1;
    struct Case {
        uint32_t headerCount;
        size_t cutRecords; // records cut off the end, the last kept one left partial
        int expected;
    } cases[] = {{20, 0, kRefused}, {5, 0, 5}, {8, 3, kRefused}, {4, 3, 4}, {0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headerCount);
        TempDir tmp;
        std::string path = tmp.copy("formats/dbf/MIXED.DBF");
        std::string bytes = readFile(path);
        std::memcpy(&bytes[4], &c.headerCount, 4);
        uint16_t recordLength;
        std::memcpy(&recordLength, &bytes[10], 2);
        bytes.resize(bytes.size() - 1 - c.cutRecords * recordLength - (c.cutRecords ? 7 : 0));
        writeFile(path, bytes);
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName("MIXED");
        if (c.expected == kRefused) {
            try {
                t.Open();
                ADD_FAILURE() << "opened a cut file";
            } catch (const EADSDatabaseError& e) {
                EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << e.what();
                EXPECT_TRUE(namesFile(e.what(), "MIXED.DBF")) << e.what();
            }
            continue;
        }
        t.Open();
        EXPECT_EQ(t.RecordCount(), static_cast<uint32_t>(c.expected));
        uint32_t walked = 0;
        for (t.First(); !t.Eof(); t.Next())
            ++walked;
        EXPECT_EQ(walked, static_cast<uint32_t>(c.expected));
    }
}

TEST(DbfDamage, CorruptOrTruncatedHeadersEndInAClearError) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* message;
    } cases[] = {
        {"empty file", [](std::string& b) { b.clear(); }, "truncated"},
        {"header cut short", [](std::string& b) { b.resize(20); }, "truncated"},
        {"unknown version", [](std::string& b) { b[0] = 0x42; }, "version"},
        {"header length past the end",
         [](std::string& b) {
             b[8] = '\xFF';
             b[9] = '\x7F';
         },
         "header length"},
        {"no field terminator",
         [](std::string& b) {
             for (size_t i = 32; i < 32 + 32 * 6 + 1; ++i)
                 if (b[i] == 0x0D) b[i] = 'X';
         },
         "Field descriptors"},
        {"record length that does not match the fields", [](std::string& b) { b[10] = 3; },
         "Record length"},
        {"field of length zero", [](std::string& b) { b[32 + 16] = 0; }, "length 0"},
        {"field with an unknown type", [](std::string& b) { b[32 + 11] = '~'; }, "unknown type"},
        // MIXED.DBF: six fields, the terminator at 224 and a NUL after it, header
        // length 226, records of 63 bytes.
        {"deletion flag neither blank nor *", [](std::string& b) { b[226 + 2 * 63] = 'X'; },
         "deletion flag"},
        {"header length past the terminator and its NUL",
         [](std::string& b) {
             b[8] = static_cast<char>(227);
             b.insert(b.begin() + 226, ' ');
         },
         "header length does not end"},
        {"header length one short: records start a byte early",
         [](std::string& b) { b[8] = static_cast<char>(225); }, "deletion flag"},
        {"a Visual FoxPro backlink in a dBASE table",
         [](std::string& b) {
             b.insert(b.begin() + 226, 262, '\0');
             b[8] = static_cast<char>((226 + 262) & 0xFF);
             b[9] = static_cast<char>((226 + 262) >> 8);
         },
         "header length does not end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        std::string path = tmp.copy("formats/dbf/MIXED.DBF");
        std::string bytes = readFile(path);
        c.damage(bytes);
        writeFile(path, bytes);
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName("MIXED");
        try {
            t.Open();
            ADD_FAILURE() << "opened a damaged table";
        } catch (const EADSDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_TRUE(namesFile(e.what(), "MIXED.DBF")) << e.what();
        }
        EXPECT_FALSE(t.Active());
    }
}

// Visual FoxPro keeps a 263-byte backlink after the terminator: the header
// length ends after it, and such a table is whole.
TEST(DbfDamage, VisualFoxProBacklinkEndsTheHeader) {
    TempDir tmp;
    std::string path = tmp.copy("formats/dbf/MIXED.DBF");
    std::string bytes = readFile(path);
    bytes[0] = 0x30;
    bytes.insert(bytes.begin() + 226, 262, '\0'); // the NUL after the terminator + 262
    const uint16_t headerLength = 226 + 262;
    std::memcpy(&bytes[8], &headerLength, 2);
    writeFile(path, bytes);
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("MIXED");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 8u);
}

// Only a regular file is a table: a pipe in its place would wait forever.
TEST(DbfDamage, APipeOrAFolderInPlaceOfATableIsRefused) {
    TempDir tmp;
    const bool havePipes = kes::os::createFifoForTesting(tmp.file("PIPE.DBF")).ok();
#ifndef _WIN32
    ASSERT_TRUE(havePipes);
#endif
    ASSERT_TRUE(kes::os::createDirectory(tmp.file("FOLDER.DBF")).ok());
    for (const char* name : {"PIPE", "FOLDER"}) {
        if (!havePipes && std::string(name) == "PIPE") continue; // Windows
        SCOPED_TRACE(name);
        TAdsTable t;
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsNTX;
        t.SetTableName(name);
        try {
            t.Open();
            ADD_FAILURE() << "opened it";
        } catch (const EADSDatabaseError& e) {
            EXPECT_TRUE(namesFile(e.what(), std::string(name) + ".DBF")) << e.what();
        }
    }
}

TEST(FieldList, BlanksAreIgnoredAndEntriesEndInSemicolons) {
    auto fields = xbase::parseFieldList(
        "CODE,     C, 4,0;INCLUDE,  L, 1,0;\n NEWCODE , C ,4, 0 ;when,d,8,0;AMOUNT,N,10,2;");
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[2].name, "NEWCODE");
    EXPECT_EQ(fields[3].name, "WHEN");
    EXPECT_EQ(fields[3].type, 'D');
    EXPECT_EQ(fields[4].length, 10);
    EXPECT_EQ(fields[4].decimals, 2);
    EXPECT_EQ(fields[4].offset, 1u + 4 + 1 + 4 + 8);
}

TEST(FieldList, MalformedListsAreRejectedWithTheReason) {
    struct Case {
        const char* list;
        const char* reason;
    } cases[] = {
        {"", "no fields"},
        {"CODE,C,4,0", "not ended by"},
        {"CODE,C,4;", "expected name, type, width and decimals"},
        {"CODE,C,4,0,1;", "expected name, type, width and decimals"},
        {",C,4,0;", "1 to 10 characters"},
        {"VERYLONGNAME,C,4,0;", "1 to 10 characters"},
        {"CO DE,C,4,0;", "character other than"},
        {"CODE,X,4,0;", "unsupported field type"},
        {"CODE,CC,4,0;", "one letter"},
        {"CODE,C,four,0;", "width is not a whole number"},
        {"CODE,C,0,0;", "1 to 254"},
        {"WHEN,D,6,0;", "8 wide"},
        {"OK,L,2,0;", "1 wide"},
        {"AMT,N,4,3;", "decimals"},
        {"CODE,C,4,1;", "decimals"},
        {"A,C,1,0;;B,C,1,0;", "empty entry"},
        {"A,C,1,0;a,C,2,0;", "occurs twice"},
    };
    for (const Case& c : cases) {
        try {
            xbase::parseFieldList(c.list);
            ADD_FAILURE() << "accepted \"" << c.list << "\"";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_BAD_FIELD_LIST);
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
                << c.list << " -> " << e.what();
        }
    }
}

namespace {

// A Python with the dbfread module (Debian's python3-dbfread goes with the
// system's own Python), or "" when the machine has none.
std::string pythonWithDbfread() {
    for (const std::string& python :
         {std::string("/usr/bin/python3"), testsupport::findOnPath("python3")}) {
        std::string out;
        if (!python.empty() && kes::os::fileKind(python) == kes::os::FileKind::Regular &&
            testsupport::runProgram({python, "-c", "import dbfread; print('yes')"}, &out) == 0 &&
            out.rfind("yes", 0) == 0)
            return python;
    }
    return {};
}

} // namespace

TEST(DbfCreate, TablesWeWriteOpenInAnIndependentReader) {
    const std::string python = pythonWithDbfread();
    if (python.empty()) GTEST_SKIP() << "python3-dbfread is not installed";
    TempDir tmp;
    const std::string path = tmp.file("KESTEST.dbf");
    TAdsTable::AdsCreateTable(path, ttAdsCDX, OEM, 0,
                              "NAME,     C,10,0;WHEN,     D, 8,0;OK,       L, 1,0;"
                              "QTY,      N, 4,0;PRICE,    N, 8,2;");
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("KESTEST");
    t.Exclusive = true;
    t.Open();
    struct Row {
        const char* name;
        const char* when; // yyyymmdd or "" for an empty date
        bool ok;
        int qty;
        double price;
    } rows[] = {
        {"MÜLLER", "20060915", true, 12, 3.75},
        {"a name that is too long", "", false, -5, -0.5},
        {"", "18991230", true, 0, 0},
    };
    for (const Row& r : rows) {
        t.Append();
        t.FieldByName("NAME").SetAsString(r.name);
        if (*r.when) t.FieldByName("WHEN").SetAsDateTime(*kes::Date::fromYyyymmdd(r.when));
        t.FieldByName("OK").SetAsBoolean(r.ok);
        t.FieldByName("QTY").SetAsInteger(r.qty);
        t.FieldByName("PRICE").SetAsFloat(r.price);
        t.Post();
    }
    t.First();
    t.Next();
    t.Delete();
    t.Close();

    std::string script =
        "import dbfread, json, sys\n"
        "t = dbfread.DBF(sys.argv[1], encoding='cp437', load=True)\n"
        "print(len(t.records), len(t.deleted), t.header.dbversion, t.header.year, "
        "t.header.numrecords)\n"
        "for r in list(t.records) + list(t.deleted):\n"
        "    print(json.dumps([r['NAME'], str(r['WHEN']), r['OK'], r['QTY'], r['PRICE']]))\n";
    writeFile(tmp.file("read.py"), script);
    std::string out, errors;
    testsupport::runProgram({python, tmp.file("read.py"), path}, &out, &errors);
    out += errors;
    int year, month, day;
    kes::Date::today().toYmd(year, month, day);
    year -= 1900; // the header keeps the year since 1900
    std::string expected = "2 1 3 " + std::to_string(year) +
                           " 3\n"
                           "[\"M\\u00dcLLER\", \"2006-09-15\", true, 12, 3.75]\n"
                           "[\"\", \"1899-12-30\", true, 0, 0.0]\n"
                           "[\"a name tha\", \"None\", false, -5, -0.5]\n";
    EXPECT_EQ(out, expected);
}

TEST(DbfCreate, HeaderCountAndDateAreRightAfterAppends) {
    TempDir tmp;
    const std::string path = tmp.file("T.dbf");
    TAdsTable::AdsCreateTable(path, ttAdsNTX, OEM, 0, "A,C,3,0;");
    auto headerCount = [&] {
        std::string b = readFile(path);
        uint32_t n;
        std::memcpy(&n, &b[4], 4);
        return n;
    };
    EXPECT_EQ(headerCount(), 0u);
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsNTX;
    t.SetTableName("T");
    t.Open();
    for (int i = 0; i < 3; ++i) {
        t.Append();
        t.FieldByName("A").SetAsString("x" + std::to_string(i));
        t.Post();
        t.FlushRecord();
        EXPECT_EQ(headerCount(), static_cast<uint32_t>(i + 1));
    }
    t.Close();
    std::string b = readFile(path);
    EXPECT_EQ(b.size(), 32u + 32 + 1 + 3 * 4 + 1); // header, 3 records, end mark
    EXPECT_EQ(b.back(), '\x1A');
    int y, m, d;
    kes::Date::today().toYmd(y, m, d);
    EXPECT_EQ(static_cast<unsigned char>(b[1]), y - 1900);
    EXPECT_EQ(b[2], m);
    EXPECT_EQ(b[3], d);
}

TEST(DbfLocks, ExclusiveAndSharedOpensExcludeEachOther) {
    TempDir tmp;
    tmp.copy("formats/dbf/MIXED.DBF");
    auto make = [&](bool exclusive) {
        auto t = std::make_unique<TAdsTable>();
        t->DatabaseName = tmp.dir();
        t->TableType = ttAdsNTX;
        t->SetTableName("MIXED");
        t->Exclusive = exclusive;
        return t;
    };
    auto shared1 = make(false), shared2 = make(false), exclusive = make(true);
    shared1->Open();
    shared2->Open(); // two shared opens live side by side
    EXPECT_THROW(exclusive->Open(), EADSDatabaseError);
    shared1->Close();
    shared2->Close();
    exclusive->Open();
    try {
        shared1->Open();
        ADD_FAILURE() << "opened a table held exclusively";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_LOCK_FAILED);
    }
    // A change of a shared table moves the lock to a writable handle.
    exclusive->Close();
    shared1->Open();
    shared1->First();
    shared1->Edit();
    shared1->FieldByName("NAME").SetAsString("CHANGED");
    shared1->Post();
    EXPECT_THROW(exclusive->Open(), EADSDatabaseError);
    shared1->Close();
    exclusive->Open();
    EXPECT_EQ(exclusive->FieldByName("NAME").AsString(), "CHANGED");
    // A table in use is not created anew under its holder.
    try {
        TAdsTable::AdsCreateTable(tmp.dir() + "mixed.dbf", ttAdsCDX, OEM, 0, "A,C,1,0;");
        ADD_FAILURE() << "replaced a table that is open";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_LOCK_FAILED);
    }
    EXPECT_EQ(exclusive->RecordCount(), 8u);
    exclusive->Close();
    TAdsTable::AdsCreateTable(tmp.dir() + "mixed.dbf", ttAdsCDX, OEM, 0, "A,C,1,0;");
    exclusive->Open();
    EXPECT_EQ(exclusive->RecordCount(), 0u);
}

namespace {

// A table of `count` records of 200 bytes (more than one megabyte, so that
// reading it in pieces takes several), every seventh one deleted.
std::string largeDbf(uint32_t count, uint32_t badFlagAt = 0) {
    std::vector<std::string> records;
    for (uint32_t r = 1; r <= count; ++r) {
        char code[16];
        std::snprintf(code, sizeof code, "%-10u", r);
        std::string rec = (r % 7 == 0 ? "*" : " ") + std::string(code) + std::string(189, 'x');
        if (r == badFlagAt) rec[0] = 'X';
        records.push_back(rec);
    }
    return buildDbf(0x03, {{"CODE", 'C', 10, 0}, {"FILL", 'C', 189, 0}}, records);
}

std::string codeOf(const char* record) {
    return std::string(record + 1, 10);
}

} // namespace

TEST(DbfShared, ASharedTableIsReadFromTheFileAndChangesBringItIntoMemory) {
    constexpr uint32_t kCount = 12000; // 2.4 MB
    TempDir tmp;
    const std::string path = tmp.file("LARGE.DBF");
    writeFile(path, largeDbf(kCount));
    const uint32_t deleted = kCount / 7;

    xbase::DbfFile exclusive;
    exclusive.open(path, xbase::OpenMode::Exclusive);
    EXPECT_FALSE(exclusive.mapped());
    EXPECT_EQ(exclusive.deletedCount(), deleted);
    exclusive.close();

    xbase::DbfFile dbf;
    dbf.open(path, xbase::OpenMode::Shared);
    ASSERT_TRUE(dbf.mapped());
    EXPECT_EQ(dbf.deletedCount(), deleted);
    // A pass in pieces reads every record where the file has it, front to
    // back and after a jump back.
    xbase::RecordScan scan(dbf);
    for (uint32_t r : {1u, 2u, 5241u, 5242u, 5243u, kCount, 3u, 7000u}) {
        SCOPED_TRACE(r);
        EXPECT_EQ(codeOf(scan.record(r)), codeOf(dbf.record(r)));
        EXPECT_EQ(std::stoul(codeOf(scan.record(r))), r);
        EXPECT_EQ(scan.view(r).deleted(), r % 7 == 0);
    }

    // The first change brings the records into memory; the count of deleted
    // records follows every kind of change.
    dbf.setDeleted(1, true);
    EXPECT_FALSE(dbf.mapped());
    EXPECT_EQ(dbf.deletedCount(), deleted + 1);
    EXPECT_EQ(std::stoul(codeOf(dbf.record(kCount - 1))), kCount - 1);
    std::string rec(dbf.record(7), dbf.recordLength());
    rec[0] = ' ';
    dbf.writeRecord(7, rec.data());
    EXPECT_EQ(dbf.deletedCount(), deleted);
    rec[0] = '*';
    dbf.appendRecords((rec + rec).data(), 2);
    EXPECT_EQ(dbf.deletedCount(), deleted + 2);
    dbf.setDeleted(kCount + 1, false);
    dbf.setDeleted(kCount + 1, false);
    EXPECT_EQ(dbf.deletedCount(), deleted + 1);
    dbf.close();

    // What was written reads back in a new shared open.
    dbf.open(path, xbase::OpenMode::Shared);
    EXPECT_TRUE(dbf.mapped());
    EXPECT_EQ(dbf.recordCount(), kCount + 2);
    EXPECT_EQ(dbf.deletedCount(), deleted + 1);
    EXPECT_TRUE(dbf.isDeleted(1));
    EXPECT_FALSE(dbf.isDeleted(7));
    dbf.close();

    // The table object counts live records and filtered ones without
    // reading them all into memory.
    TAdsSettings settings = TAdsSettings::Current();
    settings.ShowDeleted = false;
    settings.Apply();
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsNTX;
    t.SetTableName("LARGE");
    t.Open();
    EXPECT_EQ(t.RecordCount(), kCount + 2 - (deleted + 1));
    t.AdsSetFilter("VAL(CODE) > 6000");
    t.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
    uint32_t expected = 0;
    for (uint32_t r = 6001; r <= kCount; ++r)
        expected += r % 7 == 0 ? 0 : 1;
    EXPECT_EQ(t.RecordCount(), expected);
    t.Close();
    settings.ShowDeleted = true;
    settings.Apply();
}

TEST(DbfShared, ABadDeletionFlagIsFoundInAnyPieceOfTheFile) {
    for (uint32_t bad : {1u, 5243u, 12000u}) {
        SCOPED_TRACE(bad);
        TempDir tmp;
        const std::string path = tmp.file("LARGE.DBF");
        writeFile(path, largeDbf(12000, bad));
        xbase::DbfFile dbf;
        try {
            dbf.open(path, xbase::OpenMode::Shared);
            ADD_FAILURE() << "opened a table with a bad deletion flag";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_CORRUPT_TABLE);
            EXPECT_NE(std::string(e.what()).find("Record " + std::to_string(bad) + " has"),
                      std::string::npos)
                << e.what();
        }
    }
}
