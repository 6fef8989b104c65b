// The program driven from a shell with no display: export without a window,
// its options and their failures, paths taken from the start directory.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The program, its files, a bad "walk.gif"; the start directory: a good one, a plain file "file".
struct dirs {
    std::string prog = mkdtemp(std::string("/tmp/huesmith_shell_XXXXXX").data());
    std::string start = mkdtemp(std::string("/tmp/huesmith_shell_XXXXXX").data());
    explicit dirs(const std::string &state)
    {
        for (std::string name : {"huesmith", "pal_bg2.bin", "pal_pst.bin", "cmaps_bg2_12.bmp", "cmaps_pst_32.bmp",
                                 "sample_bg2.gif", "sample_pst.gif"})
            fs::copy_file(HUESMITH_BIN_DIR "/" + name, prog + "/" + name);
        std::ofstream(prog + "/last_palshift.bin") << state, std::ofstream(prog + "/walk.gif") << "GIF";
        fs::copy_file(prog + "/sample_bg2.gif", start + "/walk.gif"), std::ofstream(start + "/file");
    }
    ~dirs() { fs::remove_all(prog), fs::remove_all(start); }
};

// The contents of the files in dir whose names start with "frame", sorted.
std::vector<std::string> read_frames(const std::string &dir)
{
    std::vector<std::string> frames;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("frame", 0) == 0)
            frames.push_back(read_file(entry.path()));
    std::sort(frames.begin(), frames.end());
    return frames;
}

// The program run from the start directory with no display: its status and output.
std::pair<int, std::string> run_batch(const dirs &d, const std::vector<std::string> &args)
{
    std::string command = "cd " + d.start + " && env -u DISPLAY " + d.prog + "/huesmith";
    for (const std::string &arg : args)
        command += " '" + arg + "'";
    int status = std::system((command + " >" + d.prog + "/out.txt 2>/dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(d.prog + "/out.txt")};
}

const std::string state(144, '\0');

// Each run with -quiet from the start directory: its whole output ("P" the
// program's directory, "S" the start directory; "..." its end only), its
// status, and the size of the 8 frames in the summary's directory (BMP:
// 1078 bytes of headers and palette, then rows of a multiple of four; -1: PCX).
TEST(CommandLine, RunsFromAShell)
{
    const std::string zoom = " : the zoom is a percentage from 1 to 1000", bad = "bad option -", bmp = "sample_bg2.gif";
    struct run_case { std::vector<std::string> args; std::string output; int status, w = 0, h = 0; } cases[] = {
        {{bmp, "-export"}, "exported 8 frames to <P>", 0, 80, 112},
        {{"sample_pst.gif", "-pst", "-EXPORT", "-pcx", "-zoom=1000", "-out=new/deeper"},
         "exported 8 frames to <S/new/deeper>", 0, -1},
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
        {{bmp, "--HELP"}, "...-help, --help, -h   this text", 0},
    };
    for (run_case &c : cases) {
        dirs d(state);
        c.args.push_back("-quiet");
        auto [status, output] = run_batch(d, c.args);
        std::string expected = c.output + "\n";
        for (size_t at = 0; (at = expected.find('<', at) + 1) > 0;)
            if (expected[at] == 'P' || expected[at] == 'S')
                expected.replace(at, 1, expected[at] == 'P' ? d.prog : d.start);
        size_t from = expected.rfind("...", 0) == 0 ? 3 : 0;
        EXPECT_EQ(status, c.status) << expected;
        EXPECT_EQ(output.substr(from ? output.size() - std::min(output.size(), expected.size() - 3) : 0), expected.substr(from));
        EXPECT_EQ(read_file(d.prog + "/last_palshift.bin"), state);
        if (c.status || !c.w) {
            EXPECT_TRUE(read_frames(d.prog).empty() && read_frames(d.start).empty()) << expected;
            continue;
        }
        std::vector<std::string> frames = read_frames(expected.substr(22, expected.size() - 24));
        ASSERT_EQ(frames.size(), 8u) << expected;
        EXPECT_EQ(std::make_pair(frames[0][0], frames[0].size()),
                  c.w < 0 ? std::make_pair('\x0A', frames[0].size()) : std::make_pair('B', size_t(1078 + c.w * c.h)));
    }
}

// Rows given with -tint export as the same rows saved would (each row gives
// its own palette), and are not saved.
TEST(CommandLine, TintOverridesTheSavedRowsForOneRun)
{
    std::string saved = state, given = state;
    saved[4] = 5, given[4] = 9, given[4 * 27] = 115, given[4 * 35] = 78; // bg2 A2 and B21, pst B4
    dirs tinted(saved), plain(given);
    for (std::string set : {"bg2", "pst"}) {
        std::vector<std::string> args = {"sample_" + set + ".gif", "-export", "-out=" + set,
                                         set == "pst" ? "-pst" : "-quiet", set == "pst" ? "-pcx" : "-quiet"};
        EXPECT_EQ(run_batch(plain, args).first, 0);
        args.push_back(set == "pst" ? "-tint=B4:78" : "-tint=A2:9,b21:115");
        EXPECT_EQ(run_batch(tinted, args).first, 0);
        EXPECT_EQ(read_frames(tinted.start + "/" + set).size(), 8u);
        EXPECT_EQ(read_frames(tinted.start + "/" + set), read_frames(plain.start + "/" + set)) << set;
    }
    EXPECT_EQ(read_file(tinted.prog + "/last_palshift.bin"), saved);
}

} // namespace
