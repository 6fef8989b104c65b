// The selection state file: both palshift tables, 144 bytes little-endian.
#include "palette/tint_slots.h"
#include "support/palette_fixtures.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PaletteState : public ::testing::Test {
protected:
    std::string dir;

    void TearDown() override { leave_fresh_dir(dir); }

    void SetUp() override
    {
        dir = enter_fresh_dir();
        ASSERT_FALSE(dir.empty());
        clear_tables();
    }

    static void clear_tables()
    {
        memset(palshift_bg2, 0, sizeof palshift_bg2);
        memset(palshift_pst, 0, sizeof palshift_pst);
    }
};

// The file image of 36 values, little-endian.
std::vector<uint8_t> state_bytes(const std::vector<int32_t> &values)
{
    std::vector<uint8_t> bytes;
    for (int32_t v : values) {
        uint32_t u = uint32_t(v);
        bytes.insert(bytes.end(), {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)});
    }
    return bytes;
}

TEST_F(PaletteState, RoundTripWritesBothTablesLittleEndian)
{
    std::vector<int32_t> values;
    for (int i = 0; i < BG2_SLOTS; i++)
        values.push_back(palshift_bg2[i] = (i * 41 + 3) % 116);
    for (int i = 0; i < PST_SLOTS; i++)
        values.push_back(palshift_pst[i] = (i * 13 + 70) % 79);
    palshift_bg2[5] = 115;
    values[5] = 115;
    save_palshift_file();
    EXPECT_EQ(state_bytes(values), read_bytes("last_palshift.bin"));
    EXPECT_TRUE(read_bytes("last_palshift.bin.tmp").empty());

    clear_tables();
    load_palshift_file();
    for (int i = 0; i < BG2_SLOTS; i++)
        EXPECT_EQ(values[i], palshift_bg2[i]) << i;
    for (int i = 0; i < PST_SLOTS; i++)
        EXPECT_EQ(values[BG2_SLOTS + i], palshift_pst[i]) << i;
}

TEST_F(PaletteState, MissingAndShortFilesKeepWhatIsNotInThem)
{
    palshift_bg2[3] = 9;
    load_palshift_file();
    EXPECT_EQ(9, palshift_bg2[3]);

    // 30 bytes: slots 0..6 and the two low bytes of slot 7.
    std::vector<uint8_t> bytes = state_bytes({1, 2, 3, 4, 5, 6, 7});
    bytes.push_back(8);
    bytes.push_back(0);
    ASSERT_TRUE(write_bytes("last_palshift.bin", bytes));
    clear_tables();
    palshift_bg2[8] = 50;
    palshift_pst[0] = 60;
    load_palshift_file();
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(i + 1, palshift_bg2[i]) << i;
    EXPECT_EQ(50, palshift_bg2[8]);
    for (int i = 9; i < BG2_SLOTS; i++)
        EXPECT_EQ(0, palshift_bg2[i]) << i;
    EXPECT_EQ(60, palshift_pst[0]);

    // The second byte of slot 7 is read too: 0x0108 is out of range.
    bytes[29] = 1;
    ASSERT_TRUE(write_bytes("last_palshift.bin", bytes));
    load_palshift_file();
    EXPECT_EQ(115, palshift_bg2[7]);

    // Bytes after the 144th are ignored.
    std::vector<int32_t> values(36, 2);
    bytes = state_bytes(values);
    bytes.resize(200, 0xFF);
    ASSERT_TRUE(write_bytes("last_palshift.bin", bytes));
    load_palshift_file();
    EXPECT_EQ(2, palshift_pst[7]);
}

TEST_F(PaletteState, RowsOutsideTheirDataSetAreClamped)
{
    std::vector<int32_t> values(36, 0);
    values[0] = -5;
    values[1] = 116;
    values[2] = INT_MAX;
    values[3] = INT_MIN;
    values[4] = 115;
    values[BG2_SLOTS + 0] = 79;
    values[BG2_SLOTS + 1] = 115;
    values[BG2_SLOTS + 2] = 78;
    values[BG2_SLOTS + 3] = -1;
    ASSERT_TRUE(write_bytes("last_palshift.bin", state_bytes(values)));
    load_palshift_file();
    EXPECT_EQ(0, palshift_bg2[0]);
    EXPECT_EQ(115, palshift_bg2[1]);
    EXPECT_EQ(115, palshift_bg2[2]);
    EXPECT_EQ(0, palshift_bg2[3]);
    EXPECT_EQ(115, palshift_bg2[4]);
    EXPECT_EQ(78, palshift_pst[0]);
    EXPECT_EQ(78, palshift_pst[1]);
    EXPECT_EQ(78, palshift_pst[2]);
    EXPECT_EQ(0, palshift_pst[3]);
}

TEST_F(PaletteState, OtherDataSetsRowsSurviveASave)
{
    // A pst run saves its rows.
    for (int i = 0; i < PST_SLOTS; i++)
        palshift_pst[i] = 70 + i;
    save_palshift_file();
    std::vector<uint8_t> first = read_bytes("last_palshift.bin");
    ASSERT_EQ(144u, first.size());

    // A bg2 run loads, changes its own rows and saves again.
    clear_tables();
    load_palshift_file();
    palshift_bg2[0] = 33;
    palshift_bg2[27] = 100;
    save_palshift_file();
    std::vector<uint8_t> second = read_bytes("last_palshift.bin");
    ASSERT_EQ(144u, second.size());
    EXPECT_TRUE(std::equal(first.begin() + 112, first.end(), second.begin() + 112));
    EXPECT_EQ(33, second[0]);
    EXPECT_EQ(100, second[108]);
}

TEST_F(PaletteState, FailedSaveKeepsTheOldFileAndWarns)
{
    std::vector<uint8_t> old = state_bytes(std::vector<int32_t>(36, 4));
    ASSERT_TRUE(write_bytes("last_palshift.bin", old));
    palshift_bg2[0] = 99;

    // The temporary file cannot be opened.
    ASSERT_EQ(0, mkdir("last_palshift.bin.tmp", 0755));
    testing::internal::CaptureStdout();
    save_palshift_file();
    EXPECT_EQ("can't write <last_palshift.bin>\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(old, read_bytes("last_palshift.bin"));
    struct stat info;
    EXPECT_EQ(0, stat("last_palshift.bin.tmp", &info));
    ASSERT_EQ(0, rmdir("last_palshift.bin.tmp"));

    // The temporary file opens but its bytes do not fit: a child whose
    // files may not grow past 100 bytes.
    child_run run = run_in_child([] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        save_palshift_file();
    });
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("can't write <last_palshift.bin>\n", run.output);
    EXPECT_EQ(old, read_bytes("last_palshift.bin"));
    EXPECT_NE(0, lstat("last_palshift.bin.tmp", &info)) << "temporary file left behind";
}

TEST_F(PaletteState, StaleLinkAtTheTemporaryNameIsReplacedNotFollowed)
{
    ASSERT_TRUE(write_bytes("other_file", {'k', 'e', 'e', 'p'}));
    ASSERT_EQ(0, symlink("other_file", "last_palshift.bin.tmp"));
    palshift_pst[7] = 12;
    testing::internal::CaptureStdout();
    save_palshift_file();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::vector<uint8_t>({'k', 'e', 'e', 'p'}), read_bytes("other_file"));
    std::vector<uint8_t> saved = read_bytes("last_palshift.bin");
    ASSERT_EQ(144u, saved.size());
    EXPECT_EQ(12, saved[140]);
}

} // namespace
