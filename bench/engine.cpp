// Engine benchmark (not a test): builds a 1,000,000-record table shaped like
// the testing system's score table and times a full scan, the date-range
// filtered copy into a work-table-shaped table, a pack, building the four
// work-table tags, walking every order, and exact seeks on a 200,000-key NTX.
//
//   kesprep-bench-engine [--records N] [--dir DIR] [--keep yes]
#include "common/Paths.h"
#include "common/Text.h"
#include "data/AdsTable.h"
#include "data/ntx.h"
#include "os/Os.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long peakMegabytes() {
    return static_cast<long>(kes::os::peakResidentMemoryBytes() >> 20);
}

void report(const char* what, double seconds, double count, const char* unit) {
    std::printf("%-46s %8.3f s  %12.0f %s/s\n", what, seconds, count / seconds, unit);
}

const char* const kScoreFields = "SSN,C,11,0;DATE,D,8,0;CODE,C,4,0;CORRECT,N,3,0;SCORE,N,4,0;"
                                 "ATTEMPT,N,3,0;SS1,N,2,0;SS2,N,2,0;SS3,N,2,0;SS4,N,2,0;"
                                 "SS5,N,2,0;SS6,N,2,0;SS7,N,2,0;SS8,N,2,0;SS9,N,2,0;SS10,N,2,0;"
                                 "GRPNUMBER,C,7,0;RETEST,C,1,0;";

const char* const kWorkFields =
    "ID,C,9,0;LNAME,C,13,0;FNAME,C,11,0;MNAME,C,1,0;BIRTHDATE,D,8,0;TESTCODE,C,4,0;"
    "TESTSCORE,C,8,0;DATE,D,8,0;SSN,C,11,0;CODE,C,4,0;CORRECT,N,3,0;SCORE,N,4,0;ATTEMPT,N,3,0;"
    "SS1,N,2,0;SS2,N,2,0;SS3,N,2,0;SS4,N,2,0;SS5,N,2,0;SS6,N,2,0;SS7,N,2,0;SS8,N,2,0;SS9,N,2,0;"
    "SS10,N,2,0;GRPNUMBER,C,7,0;SITECODE,C,2,0;";

std::string ssnOf(uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "9%02u-%02u-%04u", (n / 1000000) % 100, (n / 10000) % 100,
                  n % 10000);
    return buf;
}

void put(std::string& rec, const xbase::FieldDef& f, const std::string& text, bool right = false) {
    std::string v = text.substr(0, f.length);
    if (right)
        v.insert(0, f.length - v.size(), ' ');
    else
        v.resize(f.length, ' ');
    std::memcpy(&rec[f.offset], v.data(), f.length);
}

// Writes the score-shaped table in bulk through the DBF layer.
void makeScores(const std::string& dir, uint32_t records, uint32_t students) {
    TAdsTable::AdsCreateTable(dir + "SCORES.DBF", ttAdsNTX, OEM, 0, kScoreFields);
    TAdsTable t;
    t.DatabaseName = dir;
    t.TableType = ttAdsNTX;
    t.SetTableName("SCORES");
    t.Exclusive = true;
    t.Open();
    const auto& f = t.FieldDefs();
    std::mt19937 rng(42);
    const char* codes[] = {"SRD", "SWR", "SMA", "SR1", "RD", "WR", "MA", "AL", "EN01", "MA02"};
    std::string batch;
    std::string rec = t.File().blankRecord();
    const kes::Date first = *kes::Date::fromYmd(2006, 1, 9);
    for (uint32_t i = 0; i < records; ++i) {
        rec.assign(rec.size(), ' ');
        put(rec, f[0], ssnOf(rng() % students));
        put(rec, f[1], kes::Date(first.days() + static_cast<int32_t>(rng() % 120)).toYyyymmdd());
        put(rec, f[2], codes[rng() % 10]);
        put(rec, f[3], std::to_string(rng() % 60), true);
        put(rec, f[4], std::to_string(rng() % 900), true);
        put(rec, f[5], std::to_string(1 + rng() % 3), true);
        for (int s = 0; s < 10; ++s)
            put(rec, f[6 + s], std::to_string(rng() % 40), true);
        put(rec, f[16], "G" + std::to_string(rng() % 100000));
        put(rec, f[17], rng() % 10 == 0 ? "N" : "Y");
        if (rng() % 50 == 0) rec[0] = '*';
        batch += rec;
        if (batch.size() > (8u << 20)) {
            t.File().appendRecords(batch.data(), batch.size() / rec.size());
            batch.clear();
        }
    }
    t.File().appendRecords(batch.data(), batch.size() / rec.size());
    t.Close();
}

void makeSsnIndex(const std::string& path, uint32_t keys) {
    xbase::KeyEntries e;
    e.keyLength = 11;
    std::vector<std::string> ssns;
    for (uint32_t i = 0; i < keys; ++i)
        ssns.push_back(ssnOf(i * 7919u % 100000000u));
    std::vector<uint32_t> order(keys);
    for (uint32_t i = 0; i < keys; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return ssns[a] < ssns[b]; });
    for (uint32_t i : order)
        e.push(reinterpret_cast<const unsigned char*>(ssns[i].data()), i + 1);
    xbase::NtxInfo info;
    info.keyExpression = "SSN";
    info.keyLength = 11;
    const auto start = Clock::now();
    xbase::writeNtx(path, info, e);
    report("write a 200,000-key NTX", since(start), keys, "keys");
    // Its table: one SSN per record.
    TAdsTable::AdsCreateTable(kes::directoryOf(path) + "STUDENT.DBF", ttAdsNTX, OEM, 0,
                              "SSN,C,11,0;");
    TAdsTable t;
    t.DatabaseName = kes::directoryOf(path);
    t.TableType = ttAdsNTX;
    t.SetTableName("STUDENT");
    t.Exclusive = true;
    t.Open();
    std::string all;
    for (auto& s : ssns)
        all += " " + s;
    t.File().appendRecords(all.data(), keys);
    t.Close();
}

} // namespace

int main(int argc, char** argv) {
    uint32_t records = 1000000;
    bool keep = false;
    std::string dir = (fs::temp_directory_path() / "kesprep-bench-engine").string() + "/";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--records")
            records = static_cast<uint32_t>(std::stoul(argv[i + 1]));
        else if (a == "--dir")
            dir = NormalizePath(argv[i + 1]);
        else if (a == "--keep")
            keep = std::string(argv[i + 1]) == "yes";
    }
    fs::create_directories(dir);
    std::printf("Engine benchmark: %u records in %s\n\n", records, dir.c_str());

    auto start = Clock::now();
    makeScores(dir, records, 200000);
    report("generate the score table", since(start), records, "records");

    // Plain sequential read of the file, the yardstick for the rest.
    start = Clock::now();
    {
        FILE* f = std::fopen((dir + "SCORES.DBF").c_str(), "rb");
        std::vector<char> buf(1 << 20);
        size_t total = 0, n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
            total += n;
        std::fclose(f);
        if (total == 0) return 1;
    }
    const double plain = since(start);
    report("plain sequential read of the file", plain, records, "records");

    TAdsTable scores;
    scores.DatabaseName = dir;
    scores.TableType = ttAdsNTX;
    scores.SetTableName("SCORES");

    start = Clock::now();
    scores.Open();
    double sum = 0;
    size_t chars = 0;
    std::vector<TField*> fields;
    for (int i = 0; i < scores.FieldCount(); ++i)
        fields.push_back(&scores.Fields(i));
    for (scores.First(); !scores.Eof(); scores.Next())
        for (TField* f : fields) {
            switch (f->TypeLetter()) {
            case 'N':
                sum += f->AsFloat();
                break;
            case 'D':
                sum += f->AsDateTime().days();
                break;
            default:
                chars += f->AsString().size();
            }
        }
    double t = since(start);
    report("(a) full scan reading every field", t, records, "records");
    std::printf("%-46s %8.1fx the plain read (checksum %.0f/%zu)\n", "", t / plain, sum, chars);

    TAdsTable::AdsCreateTable(dir + "KESTABLE.dbf", ttAdsCDX, OEM, 0, kWorkFields);
    TAdsTable work;
    work.DatabaseName = dir;
    work.TableType = ttAdsCDX;
    work.SetTableName("KESTABLE");
    work.Exclusive = true;
    work.Open();
    start = Clock::now();
    scores.AdsTableOptions.AdsFilterOptions = RESPECT_WHEN_COUNTING;
    scores.AdsSetFilter("(DTOS(Date) >= \"20060201\") .and. (DTOS(Date) <= \"20060430\") "
                        ".and. (retest <> \"N\")");
    scores.AdsCopyTableContents(work);
    scores.AdsClearFilter();
    t = since(start);
    report("(b) date-range filtered copy into a work table", t, records, "records");
    std::printf("%-46s %8.1fx the plain read; %u records copied\n", "", t / plain,
                work.RecordCount());
    scores.Close();

    start = Clock::now();
    uint32_t deleted = 0;
    for (work.First(); !work.Eof(); work.Next())
        if (work.RecNo() % 3 == 0) {
            work.Delete();
            ++deleted;
        }
    const double markTime = since(start);
    start = Clock::now();
    const uint32_t before = work.RecordCount();
    work.AdsPackTable();
    t = since(start);
    report("(c) pack (a third of the records deleted)", t, before, "records");
    std::printf("%-46s %8.3f s to mark %u records deleted\n", "", markTime, deleted);

    // Indexes: the four work-table tags over 1,000,000 records.
    work.Close();
    TAdsTable::AdsCreateTable(dir + "KESTABLE.dbf", ttAdsCDX, OEM, 0, kWorkFields);
    work.Open();
    scores.Open();
    scores.AdsCopyTableContents(work); // the live records
    // Top up to exactly the record count with copies of the first records.
    for (uint32_t r = 1; work.RecordCount() < records; ++r) {
        std::string copy(work.File().record(r), work.File().recordLength());
        work.File().appendRecord(copy.data());
    }
    const uint32_t workRecords = work.RecordCount();
    scores.Close();
    work.Close();
    work.Open();
    start = Clock::now();
    for (const char* tag : {"SSN", "LNAME", "TESTCODE", "DATE"})
        work.AdsCreateIndex61("", tag, tag, "", "", ADS_COMPOUND);
    work.FlushRecord(); // every tag on disk
    t = since(start);
    report("four tags built and written", t, workRecords, "records");
    for (const char* tag : {"SSN", "LNAME", "TESTCODE", "DATE"}) {
        work.SetIndexName(tag);
        start = Clock::now();
        uint32_t n = 0;
        for (work.First(); !work.Eof(); work.Next())
            ++n;
        t = since(start);
        std::string what = std::string("walk of the ") + tag + " order";
        report(what.c_str(), t, n, "records");
    }
    start = Clock::now();
    work.Close();
    report("close (indexes already on disk)", since(start), workRecords, "records");

    // Seeks on a 200,000-key NTX of SSNs.
    makeSsnIndex(dir + "SSN.NTX", 200000);
    TAdsTable students;
    students.DatabaseName = dir;
    students.TableType = ttAdsNTX;
    students.SetTableName("STUDENT");
    students.Open();
    start = Clock::now();
    students.AdsOpenIndex(dir + "SSN.NTX");
    report("open a 200,000-key NTX", since(start), 200000, "keys");
    students.SetIndexName("SSN");
    std::vector<std::string> probes;
    std::mt19937 rng(7);
    for (int i = 0; i < 1000; ++i)
        probes.push_back(ssnOf((rng() % 200000) * 7919u % 100000000u));
    start = Clock::now();
    uint32_t found = 0;
    const uint32_t seeks = 1000000;
    for (uint32_t i = 0; i < seeks; ++i)
        found += students.FindKey(probes[i % probes.size()]);
    t = since(start);
    report("exact seeks", t, seeks, "seeks");
    std::printf("%-46s %8.3f us per seek, %u found\n", "", t / seeks * 1e6, found);
    std::printf("\npeak memory: %ld MB\n", peakMegabytes());
    if (!keep) fs::remove_all(dir);
    return 0;
}
