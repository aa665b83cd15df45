#include "fuzz/targets.h"

#include "app/core/IniFile.h"
#include "data/AdsTable.h"
#include "data/Error.h"
#include "data/cdx.h"
#include "data/dbf.h"
#include "data/expr.h"
#include "data/ntx.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace kesfuzz {
namespace {

namespace fs = std::filesystem;

// A folder of this process's own for the files the readers open, removed
// when the process ends.
struct ScratchFolder {
    fs::path path;
    ScratchFolder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("kes-fuzz-" + std::to_string(random()));
        fs::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

std::string writeInput(const std::string& name, const uint8_t* data, size_t size) {
    const fs::path p = scratchFolder() / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return p.string();
}

// A property that must hold for every input: a broken one aborts, which the
// fuzzer reports as a finding.
void require(bool holds) {
    if (!holds) std::abort();
}

} // namespace

int ReadDbf(const uint8_t* data, size_t size) {
    writeInput("T.DBF", data, size);
    TAdsTable t;
    t.DatabaseName = scratchFolder().string() + "/";
    t.TableType = ttAdsNTX;
    t.SetTableName("T");
    try {
        t.Open();
    } catch (const EADSDatabaseError&) {
        return 0;
    }
    uint32_t walked = 0;
    for (t.First(); !t.Eof(); t.Next(), ++walked)
        for (int i = 0; i < t.FieldCount(); ++i) {
            TField& f = t.Fields(i);
            (void)f.AsString();
            (void)f.AsInteger();
            (void)f.AsBoolean();
            (void)f.AsDateTime();
        }
    // Every record counted is reached once.
    require(walked == t.RecordCount());
    t.Close();
    return 0;
}

int ReadNtx(const uint8_t* data, size_t size) {
    const std::string path = writeInput("T.NTX", data, size);
    xbase::KeyEntries entries;
    try {
        const xbase::NtxInfo info = xbase::readNtx(path, entries);
        require(entries.keys.size() == entries.size() * info.keyLength);
    } catch (const EADSDatabaseError&) {
    }
    return 0;
}

int ReadCdx(const uint8_t* data, size_t size) {
    const std::string path = writeInput("T.CDX", data, size);
    auto resolver = [](const std::string& expression) {
        // Dates and numbers for the usual field names, text otherwise.
        if (expression.find("DATE") != std::string::npos) return xbase::ValueType::Date;
        if (expression.find("AMOUNT") != std::string::npos) return xbase::ValueType::Numeric;
        return xbase::ValueType::Character;
    };
    try {
        for (const xbase::CdxTag& tag : xbase::readCdx(path, resolver))
            require(tag.entries.keys.size() == tag.entries.size() * tag.entries.keyLength);
    } catch (const EADSDatabaseError&) {
    }
    return 0;
}

int CompileExpression(const uint8_t* data, size_t size) {
    static const std::vector<xbase::FieldDef> fields = xbase::parseFieldList(
        "SSN,C,11,0;LNAME,C,13,0;DATE,D,8,0;DUPLICATE,L,1,0;RETEST,C,1,0;SCORE,N,5,0;"
        "CORRECT,N,6,2;");
    // Two records: one filled, one blank.
    static const std::string filled = " 123-45-6789SMITH        20050915TN  512 12.50";
    static const std::string blank(filled.size(), ' ');
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        xbase::Expression e = xbase::Expression::compile(text, fields);
        for (const std::string* record : {&filled, &blank}) {
            xbase::RecordView view{record->data(), 1};
            (void)e.evaluate(view);
            if (e.type() == xbase::ValueType::Logical) (void)e.test(view);
        }
    } catch (const EADSDatabaseError&) {
    }
    return 0;
}

int ReadSettings(const uint8_t* data, size_t size) {
    const std::string path = writeInput("KesPrep.ini", data, size);
    TIniFile ini(path);
    (void)ini.ReadString("Directories", "ORVA Path", "C:\\VIRN\\");
    (void)ini.ReadInteger("ORVA Export", "File Format", 0);
    (void)ini.ReadBool("ORVA Export", "Selected Dates", false);
    // A value written is the value read back, and the other values stay.
    const int format = ini.ReadInteger("ORVA Auto Export", "Time", -1);
    try {
        ini.WriteString("ORVA Export", "Filename", "C:\\upload.asc");
    } catch (const std::runtime_error&) {
        return 0;
    }
    require(ini.ReadString("ORVA Export", "Filename", "") == "C:\\upload.asc");
    require(ini.ReadInteger("ORVA Auto Export", "Time", -1) == format);
    return 0;
}

} // namespace kesfuzz
