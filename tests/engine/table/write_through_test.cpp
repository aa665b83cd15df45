// A table written through: each Post and Delete is on the disk (records,
// header, index) when it returns, and a pack replaces the file whole, so
// that wherever a write fails or the program stops the file is the table
// before the pack or after it, never a mix of the two.
#include "table_support.h"

#include "data/AdsTable.h"
#include "os/Os.h"

#include <string>
#include <vector>

using namespace testsupport;
using namespace tabletest;
using Injection = kes::os::FaultInjectionForTesting;

namespace {

const char* const kList = "CODE, C, 4,0;INCLUDE, L, 1,0;";

// Codes in natural order, read from the file by a table of its own.
std::vector<std::string> codesOnDisk(const TempDir& tmp) {
    TAdsTable reader;
    reader.DatabaseName = tmp.dir();
    reader.TableType = ttAdsCDX;
    reader.SetTableName("CODES");
    reader.Open();
    std::vector<std::string> codes;
    for (reader.First(); !reader.Eof(); reader.Next())
        codes.push_back(reader.FieldByName("CODE").AsString());
    return codes;
}

// CODES with five rows, the second marked deleted, closed.
void makeTable(const TempDir& tmp) {
    TAdsTable::AdsCreateTable(tmp.dir() + "CODES.dbf", ttAdsCDX, OEM, 0, kList);
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("CODES");
    t.Open();
    t.AdsCreateIndex61("", "CODE", "CODE", "", "", ADS_COMPOUND);
    for (const char* code : {"E", "B", "D", "A", "C"}) {
        t.Append();
        t.FieldByName("CODE").SetAsString(code);
        t.Post();
    }
    t.SetIndexName("");
    t.First();
    t.Next();
    t.Delete();
    t.Close();
}

} // namespace

TEST(WriteThrough, PostsAndDeletesAreInTheFileWhenTheyReturn) {
    TempDir tmp;
    makeTable(tmp);
    TAdsTable t;
    t.DatabaseName = tmp.dir();
    t.TableType = ttAdsCDX;
    t.SetTableName("CODES");
    t.WriteThrough = true;
    t.Open();
    t.SetIndexName("CODE");
    t.First();
    t.Edit();
    t.FieldByName("CODE").SetAsString("Z");
    t.Post();
    EXPECT_EQ(codesOnDisk(tmp), (std::vector<std::string>{"E", "B", "D", "Z", "C"}));
    t.Append();
    t.FieldByName("CODE").SetAsString("F");
    t.Post();
    EXPECT_EQ(codesOnDisk(tmp), (std::vector<std::string>{"E", "B", "D", "Z", "C", "F"}));
    // The index on the disk agrees: another open finds the new codes.
    TAdsTable reader;
    reader.DatabaseName = tmp.dir();
    reader.TableType = ttAdsCDX;
    reader.SetTableName("CODES");
    reader.Open();
    reader.SetIndexName("CODE");
    std::vector<std::string> ordered;
    for (reader.First(); !reader.Eof(); reader.Next())
        ordered.push_back(reader.FieldByName("CODE").AsString());
    EXPECT_EQ(ordered, (std::vector<std::string>{"B", "C", "D", "E", "F", "Z"}));
}

// The pack of a table written through, failed at each of its write points
// and stopped at each: the file holds the five records or the four kept,
// whole; after a failure the table reads the file again and stays usable.
TEST(WriteThrough, APackFailedOrStoppedAnywhereLeavesTheOldTableOrTheNew) {
    const std::vector<std::string> before = {"E", "B", "D", "A", "C"};
    const std::vector<std::string> after = {"E", "D", "A", "C"};
    TempDir tmp;
    for (Injection::Mode mode : {Injection::Mode::FailOnce, Injection::Mode::Crash}) {
        for (uint64_t n = 1;; ++n) {
            SCOPED_TRACE((mode == Injection::Mode::Crash ? "stopped at point " : "point failed: ") +
                         std::to_string(n));
            makeTable(tmp);
            TAdsTable t;
            t.DatabaseName = tmp.dir();
            t.TableType = ttAdsCDX;
            t.SetTableName("CODES");
            t.Exclusive = true;
            t.WriteThrough = true;
            t.Open();
            bool failed = false, struck = false;
            {
                Injection injection(n, mode);
                try {
                    t.AdsPackTable();
                } catch (const EADSDatabaseError& e) {
                    failed = true;
                    EXPECT_TRUE(namesFile(e.what(), "CODES")) << e.what();
                }
                struck = injection.struck();
            }
            if (!struck) break;
            // A table that could not take its file back after the rename is
            // closed, and said so.
            const bool open = t.Active();
            EXPECT_TRUE(open || failed);
            std::vector<std::string> inMemory;
            if (open)
                for (t.First(); !t.Eof(); t.Next())
                    inMemory.push_back(t.FieldByName("CODE").AsString());
            t.Close();
            const std::vector<std::string> codes = codesOnDisk(tmp);
            EXPECT_TRUE(codes == before || codes == after);
            if (mode == Injection::Mode::FailOnce && open) {
                EXPECT_EQ(inMemory, codes) << "the table does not read as the file it left";
            }
            if (mode == Injection::Mode::FailOnce && !failed) {
                EXPECT_EQ(codes, after);
            }
            kes::os::removeStaleReplacementTemporaries(tmp.dir() + "CODES.dbf");
            kes::os::removeStaleReplacementTemporaries(tmp.dir() + "CODES.cdx");
        }
    }
}
