// The program driven from a shell with no display: export without a window,
// its options and their failures, paths taken from the start directory.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "support/app_process.h"

namespace {

// The program, its data, the state file and a bad "walk.gif"; the start
// directory with a good "walk.gif" and a plain file "file".
struct dirs { std::string prog = make_temp_dir(), start = make_temp_dir(); };

dirs make_dirs(const std::string &state)
{
    dirs d;
    for (std::string name : {"huesmith", "pal_bg2.bin", "pal_pst.bin", "cmaps_bg2_12.bmp", "cmaps_pst_32.bmp",
                             "sample_bg2.gif", "sample_pst.gif"})
        EXPECT_TRUE(copy_file(HUESMITH_BIN_DIR "/" + name, d.prog + "/" + name)) << name;
    EXPECT_TRUE(write_file(d.prog + "/last_palshift.bin", state) && write_file(d.prog + "/walk.gif", "GIF") &&
                copy_file(d.prog + "/sample_bg2.gif", d.start + "/walk.gif") && write_file(d.start + "/file", ""));
    return d;
}

// The contents of the files in dir whose names start with "frame", sorted.
std::vector<std::string> read_frames(const std::string &dir)
{
    std::vector<std::string> frames;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().rfind("frame", 0) == 0)
            frames.push_back(read_file(entry.path()));
    std::sort(frames.begin(), frames.end());
    return frames;
}

process_result run_batch(const dirs &d, std::vector<std::string> args)
{
    return run_process(d.prog + "/huesmith", d.prog + "/huesmith", args, d.start);
}

const std::string state(144, '\0');

// Each run with -quiet from the start directory: its whole output ("P" the
// program's directory, "S" the start directory; "..." its end only), its
// status, and the size of the 8 frames in the summary's directory (BMP:
// 1078 bytes of headers and palette, then rows of a multiple of four).
TEST(CommandLine, RunsFromAShell)
{
    const std::string zoom = " : the zoom is a percentage from 1 to 1000", bad = "bad option -", bmp = "sample_bg2.gif";
    struct run_case { std::vector<std::string> args; std::string output; int status, w = 0, h = 0; } cases[] = {
        {{bmp, "-export"}, "exported 8 frames to <P>", 0, 80, 112},
        {{"sample_pst.gif", "-pst", "-EXPORT", "-pcx", "-zoom=1000", "-out=new/deeper"},
         "exported 8 frames to <S/new/deeper>", 0, 800, 1120},
        {{"walk.gif", "-export", "-ZOOM=50", "-out=."}, "exported 8 frames to <S/.>", 0, 40, 56},
        {{"walk.gif", "-export", "-out=/proc"}, "...bmp>\nexported 0 frames to </proc>", 1},
        {{bmp, "-export", "-out=file/x"}, "can't create <S/file/x>\nexported 0 frames to <S/file/x>", 1},
        {{bmp, "-zoom=0"}, bad + "zoom=0" + zoom, 1},
        {{bmp, "-zoom=5000"}, bad + "zoom=5000" + zoom, 1},
        {{bmp, "-tint=A8:1"}, bad + "tint=A8:1 : no slot A8 in this data set (A1..A7, B1..B21)", 1},
        {{bmp, "-tint=a1:2,B5:1", "-pst"}, bad + "tint=a1:2,B5:1 : no slot B5 in this data set (A1..A4, B1..B4)", 1},
        {{bmp, "-tint=B21:116"}, bad + "tint=B21:116 : row 116 is not in the gradient table (0..115)", 1},
        {{bmp, "-pst", "-tint=A4:79"}, bad + "tint=A4:79 : row 79 is not in the gradient table (0..78)", 1},
        {{bmp, "-tint=A2"}, bad + "tint=A2 : expects slot:row pairs such as A2:9,B3:34", 1},
        {{bmp, "-out="}, bad + "out= : no directory given", 1},
        {{bmp, "-export", "-pcs"}, "unknown option -pcs", 1},
        {{bmp, "-pcs", "-h"}, "...-help, --help, -h   this text", 0},
    };
    for (run_case &c : cases) {
        dirs d = make_dirs(state);
        bool pcx = std::count(c.args.begin(), c.args.end(), "-pcx") > 0;
        c.args.push_back("-quiet");
        process_result run = run_batch(d, c.args);
        std::string expected = c.output + "\n";
        for (size_t at = 0; (at = expected.find('<', at) + 1) > 0;)
            if (expected[at] == 'P' || expected[at] == 'S')
                expected.replace(at, 1, expected[at] == 'P' ? d.prog : d.start);
        size_t from = expected.rfind("...", 0) == 0 ? 3 : 0;
        EXPECT_EQ(run.status, c.status) << expected;
        EXPECT_EQ(run.output.substr(from ? run.output.size() - std::min(run.output.size(), expected.size() - 3) : 0),
                  expected.substr(from));
        EXPECT_EQ(read_file(d.prog + "/last_palshift.bin"), state);
        if (c.status || !c.w) {
            EXPECT_TRUE(read_frames(d.prog).empty() && read_frames(d.start).empty()) << expected;
            continue;
        }
        std::vector<std::string> frames = read_frames(expected.substr(22, expected.size() - 24));
        ASSERT_EQ(frames.size(), 8u) << expected;
        EXPECT_EQ(frames[0][0], pcx ? '\x0A' : 'B');
        EXPECT_EQ(frames[0].size(), pcx ? frames[0].size() : size_t(1078 + c.w * c.h)) << expected;
    }
    process_result help = run_batch(make_dirs(state), {"--HELP"});
    for (const char *name : {"Esc", "-pst", "-pcx", "-export", "-zoom=N", "-tint=", "-out=DIR", "-quiet", "--help"})
        EXPECT_NE(help.output.find(name), std::string::npos) << name;
}

// Rows given with -tint export as the same rows saved would (each row gives
// its own palette), and are not saved.
TEST(CommandLine, TintOverridesTheSavedRowsForOneRun)
{
    // The places of two slots' rows in the state file, the first one's saved
    // row, and the rows -tint gives both.
    const std::tuple<std::vector<std::string>, std::string, std::vector<size_t>> cases[] = {
        {{"sample_bg2.gif"}, "-tint=A2:9,b21:115", {4, 4 * 27, 5, 9, 115}},
        {{"sample_pst.gif", "-pst", "-pcx"}, "-tint=B4:78,A1:3", {4 * 35, 4 * 28, 7, 78, 3}},
    };
    for (const auto &[options, tint, at] : cases) {
        std::string saved = state, given = state;
        saved[at[0]] = char(at[2]);
        given[at[0]] = char(at[3]), given[at[1]] = char(at[4]);
        dirs tinted = make_dirs(saved), plain = make_dirs(given);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-export", "-quiet", "-out=o"});
        EXPECT_EQ(run_batch(plain, args).status, 0);
        args.push_back(tint);
        EXPECT_EQ(run_batch(tinted, args).status, 0);
        EXPECT_EQ(read_file(tinted.prog + "/last_palshift.bin"), saved);
        EXPECT_EQ(read_frames(tinted.start + "/o").size(), 8u);
        EXPECT_EQ(read_frames(tinted.start + "/o"), read_frames(plain.start + "/o")) << tint;
    }
}

} // namespace
