// Damaged and missing NTX files: each damage ends in EADSDatabaseError naming
// the file, never in a crash, a hang or a read outside the file.
#include "data/Error.h"
#include "data/ntx.h"
#include "ntx_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace ntxtest;
using xbase::KeyEntries;

namespace {

using Bytes = std::vector<unsigned char>;

// NAME.NTX: 3 levels, key length 20, 32 keys a page, root on the last page.
uint32_t root(const Bytes& b) {
    return get32(b, 4);
}
uint32_t itemOffset(const Bytes& b, uint32_t page, size_t slot) {
    return page + get16(b, page + 2 + 2 * slot);
}
uint32_t child(const Bytes& b, uint32_t page, size_t slot) {
    return get32(b, itemOffset(b, page, slot));
}

struct Damage {
    const char* name;
    std::function<void(Bytes&)> apply;
};

const Damage kDamages[] = {
    {"bad_signature", [](Bytes& b) { put16(b, 0, 0x1234); }},
    {"zero_signature", [](Bytes& b) { put16(b, 0, 0); }},
    {"multi_tag_signature", [](Bytes& b) { put16(b, 0, 0x8006); }},
    {"root_past_end", [](Bytes& b) { put32(b, 4, static_cast<uint32_t>(b.size())); }},
    {"root_far_past_end", [](Bytes& b) { put32(b, 4, 0xFFFFFC00u); }},
    {"root_not_page_aligned", [](Bytes& b) { put32(b, 4, root(b) + 100); }},
    {"root_is_header", [](Bytes& b) { put32(b, 4, 0); }},
    {"child_past_end", [](Bytes& b) { put32(b, itemOffset(b, root(b), 0), 0x7FFFFC00u); }},
    {"child_not_page_aligned", [](Bytes& b) { put32(b, itemOffset(b, root(b), 2), 1500); }},
    {"loop_back_to_root",
     [](Bytes& b) {
         const uint32_t inner = child(b, root(b), 1);
         put32(b, itemOffset(b, inner, 3), root(b));
     }},
    {"page_is_its_own_child", [](Bytes& b) { put32(b, itemOffset(b, root(b), 0), root(b)); }},
    {"two_parents_share_a_page",
     [](Bytes& b) { put32(b, itemOffset(b, root(b), 1), child(b, root(b), 0)); }},
    {"key_does_not_fit_page",
     [](Bytes& b) {
         put16(b, 12, 208); // item size
         put16(b, 14, 200); // key length; still 32 keys a page
     }},
    {"key_length_zero", [](Bytes& b) { put16(b, 14, 0); }},
    {"key_length_above_256",
     [](Bytes& b) {
         put16(b, 12, 308);
         put16(b, 14, 300);
         put16(b, 18, 2);
     }},
    {"item_size_not_key_plus_8", [](Bytes& b) { put16(b, 12, 27); }},
    {"max_items_too_large", [](Bytes& b) { put16(b, 18, 40); }},
    {"decimals_not_below_length", [](Bytes& b) { put16(b, 16, 20); }},
    {"item_count_above_max", [](Bytes& b) { put16(b, root(b), 33); }},
    {"item_count_huge", [](Bytes& b) { put16(b, child(b, root(b), 0), 0xFFFF); }},
    {"item_outside_page", [](Bytes& b) { put16(b, root(b) + 2, 1020); }},
    {"item_inside_offset_table", [](Bytes& b) { put16(b, root(b) + 2 + 2, 2); }},
    {"last_child_slot_outside_page",
     [](Bytes& b) { put16(b, root(b) + 2 + 2 * get16(b, root(b)), 1022); }},
    {"record_number_zero",
     [](Bytes& b) {
         const uint32_t leaf = child(b, child(b, root(b), 0), 0);
         put32(b, itemOffset(b, leaf, 5) + 4, 0);
     }},
    {"no_key_expression", [](Bytes& b) { b[22] = 0; }},
    {"free_list_past_end", [](Bytes& b) { put32(b, 8, static_cast<uint32_t>(b.size()) + 4096); }},
    {"truncated_last_page", [](Bytes& b) { b.resize(b.size() - 1024); }},
    {"truncated_mid_page", [](Bytes& b) { b.resize(b.size() - 300); }},
    {"truncated_mid_tree", [](Bytes& b) { b.resize(b.size() / 2); }},
    {"truncated_header", [](Bytes& b) { b.resize(600); }},
    {"empty_file", [](Bytes& b) { b.clear(); }},
};

class NtxDamaged : public ::testing::TestWithParam<Damage> {};

TEST_P(NtxDamaged, ThrowsCorruptIndexNamingTheFile) {
    Bytes bytes = readBytes(dataPath("formats/ntx/NAME.NTX"));
    ASSERT_EQ(bytes.size(), 162816u);
    GetParam().apply(bytes);
    ScratchDir dir;
    const std::string path = dir.file("NAME.NTX");
    writeBytes(path, bytes);

    KeyEntries out;
    out.keyLength = 3;
    out.keys = {'a', 'b', 'c'};
    out.recnos = {42};
    try {
        xbase::readNtx(path, out);
        FAIL() << GetParam().name << ": read without complaint";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_CORRUPT_INDEX) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_EQ(out.size(), 1u) << "the entries are left as they were";
    EXPECT_EQ(out.recnos[0], 42u);
}

INSTANTIATE_TEST_SUITE_P(Damages, NtxDamaged, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& p) { return p.param.name; });

// A sound file with the large-file flag counts pages instead of bytes.
TEST(NtxDamagedControl, LargeFileFlagMeansPageNumbers) {
    Bytes bytes = readBytes(dataPath("virn-sample/VIRNTP1/SSN.NTX"));
    put16(bytes, 0, 0x0206);
    put32(bytes, 4, 1); // the root, page 1
    ScratchDir dir;
    const std::string path = dir.file("SSN.NTX");
    writeBytes(path, bytes);
    KeyEntries out;
    xbase::readNtx(path, out);
    EXPECT_EQ(out.size(), 27u);
}

TEST(NtxMissing, FileNotFoundNamesTheFile) {
    ScratchDir dir;
    const std::string path = dir.file("NOSUCH.NTX");
    try {
        KeyEntries out;
        xbase::readNtx(path, out);
        FAIL() << "read";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_FILE_NOT_FOUND);
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    try {
        KeyEntries out;
        xbase::readNtx(dir.path().string(), out);
        FAIL() << "read a folder";
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_NOT_A_FILE);
        EXPECT_NE(std::string(e.what()).find(dir.path().string()), std::string::npos);
    }
}

// Random damage where it matters most (header fields, key counts, offset
// tables and child pointers): the read either succeeds or throws the one
// error class, and whatever it returns has whole keys.
TEST(NtxRandomDamage, NeverCrashesOrHangs) {
    const Bytes original = readBytes(dataPath("formats/ntx/NAME.NTX"));
    const size_t pages = original.size() / 1024;
    std::mt19937 rng(20060915);
    ScratchDir dir;
    const std::string path = dir.file("FUZZ.NTX");
    size_t rejected = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = original;
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes; ++c) {
            size_t at;
            if (rng() % 3 == 0) {
                at = rng() % 24; // header numbers
            } else {
                const size_t page = 1 + rng() % (pages - 1);
                at = page * 1024 + rng() % 160; // count, offset table, first items
            }
            bytes[at] = static_cast<unsigned char>(rng());
        }
        writeBytes(path, bytes);
        try {
            KeyEntries out;
            const auto info = xbase::readNtx(path, out);
            EXPECT_EQ(out.keys.size(), out.size() * info.keyLength);
        } catch (const EADSDatabaseError& e) {
            ++rejected;
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    EXPECT_GT(rejected, 0u);
}

} // namespace
