// The HEX loader: record rules, bounds and checksums on small texts, the
// digit and descrambling rules, and loading the embedded image twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "image/embedded_image.h"
#include "image/hex_loader.h"
#include "image/unscramble.h"
#include "job/update_job.h"
#include "tests/fresh_job.h"
#include "tests/test_support.h"

namespace {

// One record with a correct checksum, plus `checksumError` (no line end).
std::string Rec(uint32_t address, uint8_t type, const std::vector<uint8_t>& data, int checksumError = 0) {
    return HexRecord(address, type, data, checksumError);
}

const std::string END = ":00000001FF";

bool Load(UpdateJob& job, const std::string& text) {
    // An exact-size heap copy, so that AddressSanitizer sees any read past it.
    std::vector<uint8_t> plain(text.begin(), text.end());
    return LoadHexText(job, plain.data(), plain.size());
}

struct LoadCase {
    const char* name;
    std::string text;
    bool loads;
    std::map<uint32_t, uint8_t> stored;  // every byte that is not 0xFF afterwards
    std::set<size_t> pages;              // every marked page
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadHexTextCases : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadHexTextCases, ResultImageAndPages) {
    const LoadCase& c = GetParam();
    auto job = FreshJob();
    EXPECT_EQ(Load(*job, c.text), c.loads);
    for (uint32_t a = 0; a < IMAGE_SIZE; ++a) {
        const auto it = c.stored.find(a);
        const uint8_t expected = it == c.stored.end() ? 0xFF : it->second;
        ASSERT_EQ(job->ImageBuffer[a], expected) << "address " << a;
    }
    for (size_t p = 0; p < PAGE_COUNT; ++p) EXPECT_EQ(job->PageMap[p], c.pages.count(p) ? 1 : 0) << "page " << p;
}

const std::string NUL(1, '\0');

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rules, LoadHexTextCases,
    testing::Values(
        LoadCase{"EmptyText", "", false, {}, {}},
        LoadCase{"FirstCharacterNotMark", " " + END, false, {}, {}},
        LoadCase{"DataRecordThenEnd", ":021400000102E7\n" + END, true, {{0x1400, 0x01}, {0x1401, 0x02}}, {10}},
        LoadCase{"TwoSeparatorsMissTheNextMark", ":021400000102E7\n\n" + END, false,
                 {{0x1400, 0x01}, {0x1401, 0x02}}, {10}},
        LoadCase{"CrLfFailsAtTheSecondRecord", Rec(0x1400, 0, {0x11}) + "\r\n" + Rec(0x1401, 0, {0x22}) + "\r\n" + END,
                 false, {{0x1400, 0x11}}, {10}},
        LoadCase{"AnySeparatorCharacter", Rec(0x1400, 0, {0x11}) + NUL + Rec(0x1401, 0, {0x22}) + "G" + END, true,
                 {{0x1400, 0x11}, {0x1401, 0x22}}, {10}},
        LoadCase{"CountZeroStoresNothingAndTakes12", ":00140000EC\n" + Rec(0x1600, 0, {0xAB}) + "\n" + END, true,
                 {{0x1600, 0xAB}}, {11}},
        LoadCase{"Below1400", Rec(0x13FF, 0, {0x11}) + "\n" + END, false, {}, {}},
        LoadCase{"LastAddressFBFF", Rec(0xFBFF, 0, {0x22}) + "\n" + END, true, {{0xFBFF, 0x22}}, {125}},
        LoadCase{"FC00", Rec(0xFC00, 0, {0x22}) + "\n" + END, false, {}, {}},
        LoadCase{"RunAcrossFBFFStoresUpToIt", Rec(0xFBFE, 0, {1, 2, 3}) + "\n" + END, false,
                 {{0xFBFE, 1}, {0xFBFF, 2}}, {125}},
        LoadCase{"NoWrapPastFFFF", Rec(0xFFFF, 0, {1, 2}) + "\n" + END, false, {}, {}},
        LoadCase{"LowerCaseDigitReadsAsZero", ":011400001aDB\n" + END, true, {{0x1400, 0x10}}, {10}},
        LoadCase{"LowerCaseDigitFailsItsChecksum", ":011400001aD1\n" + END, false, {{0x1400, 0x10}}, {10}},
        LoadCase{"BadChecksum", Rec(0x1400, 0, {0x5A}, 1) + "\n" + END, false, {{0x1400, 0x5A}}, {10}},
        LoadCase{"EndRecordWithWrongChecksum", ":00000001AA", true, {}, {}},
        LoadCase{"NothingAfterTheEndRecordIsRead", END + "\n" + Rec(0x1400, 0, {1}) + "\nrubbish", true, {}, {}},
        LoadCase{"ExtendedSegmentAddressRecord", ":020000020000FC\n" + END, false, {}, {}},
        LoadCase{"ExtendedLinearAddressRecord", ":020000040000FA\n" + END, false, {}, {}},
        LoadCase{"StartAddressRecord", ":0400000500001400E3\n" + END, false, {}, {}},
        LoadCase{"DataOnlyEndingAtTheLastCharacter", Rec(0x1400, 0, {5}) + "\n" + Rec(0x1401, 0, {6}), true,
                 {{0x1400, 5}, {0x1401, 6}}, {10}},
        LoadCase{"DataOnlyEndingAtTheLastButOne", Rec(0x1400, 0, {5}) + "\n" + Rec(0x1401, 0, {6}) + "\n", true,
                 {{0x1400, 5}, {0x1401, 6}}, {10}},
        LoadCase{"MarkNineFromTheEnd", Rec(0x1400, 0, {5}) + "\n" + ":ZZZZZZZZ", true, {{0x1400, 5}}, {10}},
        LoadCase{"MarkEightFromTheEnd", Rec(0x1400, 0, {5}) + "\n" + ":0000000", false, {{0x1400, 5}}, {10}},
        LoadCase{"MarkAloneAtTheEnd", Rec(0x1400, 0, {5}) + "\n" + ":", false, {{0x1400, 5}}, {10}},
        LoadCase{"DataCutShort", ":101400000102030405", false, {}, {}},
        LoadCase{"ChecksumCutShort", ":0114000001E", false, {}, {}},
        LoadCase{"LaterRecordOverwrites", Rec(0x1400, 0, {1, 2}) + "\n" + Rec(0x1401, 0, {9}) + "\n" + END, true,
                 {{0x1400, 1}, {0x1401, 9}}, {10}},
        LoadCase{"ByteCount255", Rec(0x1400, 0, std::vector<uint8_t>(255, 0x42)) + "\n" + END, true,
                 [] {
                     std::map<uint32_t, uint8_t> m;
                     for (uint32_t a = 0x1400; a < 0x1400 + 255; ++a) m[a] = 0x42;
                     return m;
                 }(),
                 {10}}),
    [](const testing::TestParamInfo<LoadCase>& param) { return std::string(param.param.name); });
// clang-format on

TEST(HexPairToByte, DigitsUpperCaseOnlyEverythingElseZero) {
    struct Case {
        char first, second;
        uint8_t value;
    } cases[] = {{'3', 'A', 0x3A}, {'a', '3', 0x03}, {'7', 'G', 0x70}, {'1', 'a', 0x10},  {'F', 'F', 0xFF},
                 {'0', '9', 0x09}, {'/', ':', 0x00}, {'@', 'G', 0x00}, {'\0', 'E', 0x0E}, {'f', '\n', 0x00}};
    for (const Case& c : cases)
        EXPECT_EQ(HexPairToByte(static_cast<uint8_t>(c.first), static_cast<uint8_t>(c.second)), c.value)
            << c.first << c.second;
}

TEST(UnscrambleByte, CoversHexTextWithinTenToSeventyAndZeroElsewhere) {
    const std::string alphabet = "0123456789ABCDEF:\r\n";
    std::set<uint8_t> reached;
    for (unsigned v = 0; v < 256; ++v) {
        const uint8_t plain = UnscrambleByte(static_cast<uint8_t>(v));
        if (v < 10 || v > 70) {
            EXPECT_EQ(plain, 0) << v;
        } else {
            EXPECT_TRUE(plain == 0 || alphabet.find(static_cast<char>(plain)) != std::string::npos) << v;
            EXPECT_EQ(plain, UNSCRAMBLE_TABLE[v - 10]);
        }
        reached.insert(plain);
    }
    for (char c : alphabet) EXPECT_TRUE(reached.count(static_cast<uint8_t>(c))) << "no value stands for " << int{c};
}

TEST(LoadHexImage, EveryRunLoadsTheSameImageAndTheEmbeddedTextStaysScrambled) {
    const std::vector<uint8_t> before(EMBEDDED_IMAGE, EMBEDDED_IMAGE + EMBEDDED_IMAGE_LENGTH);
    auto first = FreshJob();
    auto second = FreshJob();

    testing::internal::CaptureStdout();
    const bool firstLoaded = LoadHexImage(*first);
    const bool secondLoaded = LoadHexImage(*second);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Working  \nWorking  \n");

    EXPECT_TRUE(firstLoaded);
    EXPECT_TRUE(secondLoaded);
    EXPECT_EQ(std::memcmp(first->ImageBuffer, second->ImageBuffer, IMAGE_SIZE), 0);
    EXPECT_EQ(std::memcmp(first->PageMap, second->PageMap, PAGE_COUNT), 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), EMBEDDED_IMAGE));
    size_t pages = 0;
    for (uint8_t flag : first->PageMap) pages += flag;
    EXPECT_GT(pages, 0u);
}

}  // namespace
