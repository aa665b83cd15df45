// Index files on disk, NTX and CDX alike: what a missing, unreadable or
// unwritable file gives, that a write replaces the file whole and clears
// what killed runs left beside it, and that a view and a copy read the same.
#include "data/Error.h"
#include "data/IndexFile.h"
#include "data/cdx.h"
#include "data/ntx.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// One format's whole-file read and write, with a small valid content.
struct Format {
    const char* name;
    const char* file;
    std::function<void(const std::string&)> read;
    std::function<void(const std::string&)> write;
};

xbase::KeyEntries twoKeys() {
    xbase::KeyEntries e;
    e.keyLength = 1;
    e.push(reinterpret_cast<const unsigned char*>("A"), 1);
    e.push(reinterpret_cast<const unsigned char*>("B"), 2);
    return e;
}

const std::vector<Format>& formats() {
    static const std::vector<Format> all = {
        {"NTX", "T.NTX",
         [](const std::string& path) {
             xbase::KeyEntries out;
             xbase::readNtx(path, out);
         },
         [](const std::string& path) {
             xbase::NtxInfo info;
             info.keyExpression = "CODE";
             info.keyLength = 1;
             xbase::writeNtx(path, info, twoKeys());
         }},
        {"CDX", "T.cdx",
         [](const std::string& path) {
             xbase::readCdx(path, [](const std::string&) { return xbase::ValueType::Character; });
         },
         [](const std::string& path) {
             xbase::CdxTag tag;
             tag.name = "CODE";
             tag.keyExpression = "CODE";
             tag.entries = twoKeys();
             xbase::writeCdx(path, {tag});
         }},
    };
    return all;
}

// The error `work` throws: its number (0 for none) and text.
std::pair<int, std::string> errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const EADSDatabaseError& e) {
        return {e.Number(), e.what()};
    }
    return {0, ""};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(IndexFiles, FailuresOfTheSystemReadAlikeForBothFormats) {
    for (const Format& f : formats()) {
        SCOPED_TRACE(f.name);
        TempDir dir;
        fs::create_directory(dir.path() / "folder");
        struct Case {
            const char* what;
            std::function<void()> work;
            std::string path;
            int number;
            const char* wording;
        } cases[] = {
            {"missing file", [&] { f.read(dir.file(f.file)); }, dir.file(f.file), AE_FILE_NOT_FOUND,
             "does not exist"},
            {"a folder", [&] { f.read(dir.file("folder")); }, dir.file("folder"), AE_NOT_A_FILE,
             "is not a regular file"},
            {"no such folder to write in",
             [&] { f.write(dir.file("none/" + std::string(f.file))); },
             dir.file("none/" + std::string(f.file)), AE_CREATE_FAILED, "cannot be written"},
            {"a folder in the way", [&] { f.write(dir.file("folder")); }, dir.file("folder"),
             AE_WRITE_FAILED, "cannot be written"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            const auto [number, text] = errorOf(c.work);
            EXPECT_EQ(number, c.number) << text;
            EXPECT_EQ(text.rfind("The index file " + c.path + " " + c.wording, 0), 0u) << text;
        }
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"folder"}); // nothing left behind
    }
}

TEST(IndexFiles, AWriteReplacesTheFileAndClearsWhatKilledRunsLeft) {
    for (const Format& f : formats()) {
        SCOPED_TRACE(f.name);
        TempDir dir;
        const std::string path = dir.file(f.file);
        for (const std::string& left : {path + ".~12.tmp", path + ".kes-a1b2c3.tmp"})
            std::ofstream(left) << "half of a killed run";
        std::ofstream(dir.file("OTHER.tmp")) << "not ours";
        std::ofstream(path) << "an old index";
        f.write(path);
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"OTHER.tmp", f.file}));
        EXPECT_EQ(errorOf([&] { f.read(path); }).first, 0); // the new file reads
    }
}

TEST(IndexFiles, AViewAndACopyHoldTheSameBytes) {
    TempDir dir;
    const std::string path = dir.file("T.cdx");
    formats()[1].write(path);
    const xbase::IndexFileBytes copy = xbase::readIndexFile(path);
    xbase::IndexFileBytes view = xbase::viewIndexFile(path);
    ASSERT_EQ(copy.size(), fs::file_size(path));
    ASSERT_EQ(view.size(), copy.size());
    EXPECT_TRUE(std::equal(copy.data(), copy.data() + copy.size(), view.data()));
    // Moved, the bytes go with the new owner.
    xbase::IndexFileBytes moved = std::move(view);
    EXPECT_EQ(view.size(), 0u);
    EXPECT_TRUE(std::equal(copy.data(), copy.data() + copy.size(), moved.data()));
    // An empty file is no error here; the format's reader says what it lacks.
    std::ofstream(dir.file("EMPTY.cdx"));
    EXPECT_EQ(xbase::viewIndexFile(dir.file("EMPTY.cdx")).size(), 0u);
}

} // namespace
