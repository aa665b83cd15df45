// Damaged copies of the fixtures: every one throws EADSDatabaseError
// (AE_CORRUPT_INDEX) naming the file, and none crashes, hangs or reads out
// of bounds (run under AddressSanitizer too).
#include "cdx_support.h"

#include "data/Error.h"

#include <functional>

using namespace xbase;

namespace {

void put16(std::string& f, size_t at, uint16_t v) {
    f[at] = char(v & 0xFF);
    f[at + 1] = char(v >> 8);
}
void put32(std::string& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + i] = char((v >> (8 * i)) & 0xFF);
}
void putBe32(std::string& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + 3 - i] = char((v >> (8 * i)) & 0xFF);
}

// Places in the fixtures (seen with xxd):
// BIG.cdx: tag directory leaf 0x400 (5 entries of 4 bytes, NAME last);
// NAME header 0x600, root 0xA00 (interior, 20-byte keys, 28-byte entries);
// CODE header 0xC00, its first leaf 0x1800 (right sibling 0x1C00).
// KESTEST.cdx: CODE header 0x600, its only (root) leaf 0xA00, 3-byte entries.
constexpr size_t kNameHeader = 0x600, kNameRoot = 0xA00, kCodeLeaf = 0x1800;

struct Damage {
    const char* what;
    const char* file;
    std::function<void(std::string&)> apply;
};

const Damage kDamages[] = {
    {"bad signature", "BIG.cdx", [](std::string& f) { f[15] = 0x02; }},
    {"not a compact index", "BIG.cdx", [](std::string& f) { f[14] = 0x40; }},
    {"not a compound index", "KESTEST.cdx", [](std::string& f) { f[14] = 0x20; }},
    {"tag header past the end", "BIG.cdx",
     [](std::string& f) {
         f[0x428] = 0;
         f[0x429] = 0;
         f[0x42A] = char(0xF0);
     }},
    {"tag header inside the file header", "BIG.cdx",
     [](std::string& f) {
         f[0x428] = 0;
         f[0x429] = 0x02;
         f[0x42A] = 0;
     }},
    {"root past the end", "BIG.cdx", [](std::string& f) { put32(f, kNameHeader, 0x00F00000); }},
    {"root not on a page boundary", "BIG.cdx",
     [](std::string& f) { put32(f, kNameHeader, kNameRoot + 1); }},
    {"root pointing at a tag header", "BIG.cdx",
     [](std::string& f) { put32(f, kNameHeader, 0xC00); }},
    {"interior node pointing at itself", "BIG.cdx",
     [](std::string& f) { putBe32(f, kNameRoot + 12 + 24, kNameRoot); }},
    {"two parents of one node", "BIG.cdx",
     [](std::string& f) { f.replace(kNameRoot + 12 + 28 + 24, 4, f, kNameRoot + 12 + 24, 4); }},
    {"child past the end", "BIG.cdx",
     [](std::string& f) { putBe32(f, kNameRoot + 12 + 24, 0x7FFFFE00); }},
    {"leaf sibling loop", "BIG.cdx", [](std::string& f) { put32(f, kCodeLeaf + 8, kCodeLeaf); }},
    {"leaf sibling chain broken", "BIG.cdx",
     [](std::string& f) { put32(f, kCodeLeaf + 8, 0xFFFFFFFF); }},
    {"key length beyond a page", "BIG.cdx",
     [](std::string& f) { put16(f, kNameHeader + 12, 300); }},
    {"key length zero", "BIG.cdx", [](std::string& f) { put16(f, kNameHeader + 12, 0); }},
    {"expression pool overrun", "BIG.cdx",
     [](std::string& f) { put16(f, kNameHeader + 510, 600); }},
    {"interior node without keys", "BIG.cdx", [](std::string& f) { put16(f, kNameRoot + 2, 0); }},
    {"interior node with too many keys", "BIG.cdx",
     [](std::string& f) { put16(f, kNameRoot + 2, 18); }},
    {"bad node attributes", "BIG.cdx", [](std::string& f) { put16(f, kNameRoot, 7); }},
    {"bit counts wider than an entry", "BIG.cdx", [](std::string& f) { f[kCodeLeaf + 20] = 30; }},
    {"record bits zero", "BIG.cdx", [](std::string& f) { f[kCodeLeaf + 20] = 0; }},
    {"entry of nine bytes", "BIG.cdx", [](std::string& f) { f[kCodeLeaf + 23] = 9; }},
    {"mask not matching its bit count", "BIG.cdx",
     [](std::string& f) { f[kCodeLeaf + 18] = 0x0F; }},
    {"leaf with too many keys", "BIG.cdx", [](std::string& f) { put16(f, kCodeLeaf + 2, 400); }},
    {"key bytes overlapping the entries", "KESTEST.cdx",
     [](std::string& f) {
         put16(f, 0xA02, 150);
         put16(f, 0xA0C, 0);
     }},
    {"duplicate and trailing counts beyond the key", "KESTEST.cdx",
     [](std::string& f) { f[0xA1A] = char(0xE0); }},
    {"first entry repeating a key", "KESTEST.cdx", [](std::string& f) { f[0xA1A] = 0x44; }},
    {"truncated in a tag header", "BIG.cdx", [](std::string& f) { f.resize(100000); }},
    {"truncated in the last tag's pages", "BIG.cdx", [](std::string& f) { f.resize(0x2E000); }},
    {"truncated in the file header", "BIG.cdx", [](std::string& f) { f.resize(700); }},
    {"truncated after the header", "KESTEST.cdx", [](std::string& f) { f.resize(1500); }},
    {"empty file", "KESTEST.cdx", [](std::string& f) { f.clear(); }},
};

TEST(CdxCorrupt, DamagedFilesThrowNamingTheFile) {
    testsupport::TempDir dir;
    int n = 0;
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.what);
        std::string bytes = testsupport::readFile(cdxtest::fixtureDir() + "/" + d.file);
        ASSERT_FALSE(bytes.empty());
        d.apply(bytes);
        const std::string path = dir.file("damaged" + std::to_string(++n) + ".cdx");
        testsupport::writeFile(path, bytes);
        try {
            readCdx(path, cdxtest::sampleFieldType);
            ADD_FAILURE() << "no error";
        } catch (const EADSDatabaseError& e) {
            EXPECT_EQ(e.Number(), AE_CORRUPT_INDEX) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

} // namespace
