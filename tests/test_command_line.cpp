// The program driven from a shell with no display: export without a window,
// its options and their failures, paths taken from the start directory.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gif_write.h"
#include "support/shell.h"

namespace {

namespace fs = std::filesystem;

// The program, its files and a bad "walk.gif"; the start directory: a good
// "walk.gif" and a plain file "f".
struct dirs {
    std::string prog = make_test_dir();
    std::string start = make_test_dir();
    std::string program = prog + "/huesmith";
    dirs()
    {
        const char *files[] = {"huesmith", "pal_bg2.bin", "pal_pst.bin", "cmaps_bg2_12.bmp",
                               "cmaps_pst_32.bmp", "sample_bg2.gif", "sample_pst.gif"};
        for (std::string name : files)
            fs::copy_file(HUESMITH_BIN_DIR "/" + name, prog + "/" + name);
        std::ofstream(prog + "/walk.gif") << "GIF";
        fs::copy_file(prog + "/sample_bg2.gif", start + "/walk.gif");
        std::ofstream(start + "/f");
    }
    ~dirs()
    {
        fs::remove_all(prog);
        fs::remove_all(start);
    }
};

// A run with -quiet from the start directory: its arguments, its output, its
// status and the directory of the 8 frames written (none: nothing is).
struct run_case {
    std::vector<std::string> args;
    std::string output;
    int status;
    std::string frames_dir;
};

// Failures first: they leave both directories without frames.
TEST(CommandLine, RunsFromAShell)
{
    dirs d;
    const std::string bad = "bad option -";
    const std::string bmp = "sample_bg2.gif";
    const std::string pst_slots = " : no slot B5 in this data set (A1..A4, B1..B4)";
    const std::string one_format = " chose the format already (one of -pcx, -png, -gif, -sheet)";
    const std::string to = "exported 8 frames to <";
    const std::string x = "<" + d.start + "/f/x>";
    const run_case cases[] = {
        {{bmp, "-export", "-out=f/x"}, "can't create " + x + "\nexported 0 frames to " + x, 1, ""},
        {{bmp, "-zoom=1001"}, bad + "zoom=1001 : the zoom is a percentage from 1 to 1000", 1, ""},
        {{bmp, "-tint=a1:2,B5:1", "-pst"}, bad + "tint=a1:2,B5:1" + pst_slots, 1, ""},
        {{bmp, "-export", "-pcs"}, "unknown option -pcs", 1, ""},
        {{bmp, "-export", "recoloured/walk"}, "unexpected argument recoloured/walk", 1, ""},
        {{bmp, "-gif", "-pcx"}, bad + "pcx : -gif" + one_format, 1, ""},
        {{bmp, "-export", "-tint=A2:9"}, to + d.prog + ">", 0, d.prog},
        {{"sample_pst.gif", "-pst", "-EXPORT", "-pcx", "-out=new/deeper"},
         to + d.start + "/new/deeper>", 0, d.start + "/new/deeper"},
        {{"walk.gif", "-export", "-ZOOM=50", "-out=."}, to + d.start + ">", 0, d.start},
        {{"walk.gif", "-gif", "-export", "-GIF"}, to + d.prog + "/walk_tinted.gif>", 0, ""},
    };
    for (const run_case &c : cases) {
        std::string command = d.program;
        for (const std::string &arg : c.args)
            command += " '" + arg + "'";
        shell_run run = run_shell(d.start, command + " -quiet");
        SCOPED_TRACE(c.output);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.output, c.output + "\n");
        bool none = read_frames(d.prog).empty() && read_frames(d.start).empty();
        EXPECT_TRUE(c.status == 0 || none);
        EXPECT_TRUE(c.frames_dir.empty() || read_frames(c.frames_dir).size() == 8);
    }
}

// Started from a directory removed since, a relative -out= has nothing to be
// taken from: refused, nothing written.
TEST(CommandLine, RelativeOutFromARemovedStartDirectoryIsRefused)
{
    dirs d;
    const std::string lost = "mkdir gone && cd gone && rmdir ../gone && env -u DISPLAY ";
    const std::string run = lost + d.program + " sample_bg2.gif -export -quiet -out=";
    shell_run relative = run_shell(d.start, run + "rel");
    EXPECT_EQ(relative.status, 1);
    const std::string refused = "bad option -out=rel : can't find the directory it is taken from";
    EXPECT_EQ(relative.output, refused + "\n");
    EXPECT_FALSE(fs::exists(d.prog + "/rel"));
    EXPECT_TRUE(read_frames(d.prog).empty());
}

// Two exports into one folder at once, with different tints, many times:
// each run says truly that it wrote all eight frames, every frame left is
// whole and one run's own, and no temporary file is left.
TEST(CommandLine, ExportsIntoOneFolderAtOnceEachWriteWholeFiles)
{
    dirs d;
    const std::string tints[] = {"-tint=A2:9", "-tint=A2:40"};
    const std::string run = d.program + " walk.gif -export -quiet -zoom=1000 -out=";
    std::vector<std::string> alone[2];
    for (int i = 0; i < 2; i++) {
        const std::string out = d.start + "/alone" + std::to_string(i);
        ASSERT_EQ(run_shell(d.start, run + out + " " + tints[i]).status, 0);
        alone[i] = read_frames(out);
        ASSERT_EQ(alone[i].size(), 8u);
    }
    ASSERT_NE(alone[0][0], alone[1][0]);
    const std::string shared = d.start + "/shared";
    for (int round = 0; round < 20; round++) {
        std::string both = "cd " + d.start + "; unset DISPLAY;";
        for (int i = 0; i < 2; i++) {
            const std::string report = d.prog + "/run" + std::to_string(i) + ".txt";
            both += " { " + run + shared + " " + tints[i] + " >" + report;
            both += "; echo $? >>" + report + "; } &";
        }
        std::system((both + " wait").c_str());
        for (int i = 0; i < 2; i++) {
            const std::string report = d.prog + "/run" + std::to_string(i) + ".txt";
            EXPECT_EQ(read_file(report), "exported 8 frames to <" + shared + ">\n0\n") << round;
        }
        std::vector<std::string> files = read_frames(shared);
        ASSERT_EQ(files.size(), 8u) << round;
        for (size_t k = 0; k < 8; k++) {
            bool whole = files[k] == alone[0][k] || files[k] == alone[1][k];
            EXPECT_TRUE(whole) << round << " frame " << k;
        }
    }
}

// The export run in a child with SIGINT ignored (a background job of a
// script), sent the signal once its first frame is in out: the raw status.
int interrupt_export(const std::string &program, const std::string &gif, const std::string &out,
                     int number)
{
    const std::string out_option = "-out=" + out;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_IGN);
        unsetenv("DISPLAY");
        freopen("/dev/null", "w", stdout);
        execl(program.c_str(), program.c_str(), gif.c_str(), "-export", "-zoom=500",
              out_option.c_str(), nullptr);
        _exit(127);
    }
    int raw = 0;
    while (!fs::exists(out + "/frame000.bmp")) {
        if (waitpid(pid, &raw, WNOHANG) == pid)
            return raw;
        usleep(1000); // a poll of the folder, not a wait for the export's pace
    }
    kill(pid, number);
    waitpid(pid, &raw, 0);
    return raw;
}

// SIGINT, SIGTERM or SIGHUP in the middle of a long export, even to a run
// started with SIGINT ignored: the run ends by the signal, and its folder
// holds whole frames only. A run that ended before the signal is made again.
TEST(CommandLine, InterruptedExportLeavesWholeFramesOnly)
{
    dirs d;
    // 1000 frames of one black pixel, 250 kB files at zoom 500: the export
    // takes hundreds of times as long as its first frame.
    const std::vector<gif_rgb> table(2, gif_rgb{0, 0, 0});
    std::vector<gif_out_frame> frames;
    for (int i = 0; i < 1000; i++)
        frames.push_back({i % 100, i / 100, 1, 1, {1}, 10, false, {}});
    const std::string gif = d.start + "/long.gif";
    ASSERT_TRUE(write_gif_file(gif.c_str(), 100, 100, table, frames));
    const int numbers[] = {SIGINT, SIGTERM, SIGHUP};
    for (int run = 0; run < 6; run++) {
        const int number = numbers[run % 3];
        const std::string out = d.start + "/out" + std::to_string(run);
        int raw = interrupt_export(d.program, gif, out, number);
        int finished = 0;
        while (read_frames(out).size() == 1000) {
            finished++;
            ASSERT_LT(finished, 5) << "the exports end before their signals";
            fs::remove_all(out);
            raw = interrupt_export(d.program, gif, out, number);
        }
        ASSERT_TRUE(WIFSIGNALED(raw)) << "run " << run << " was not interrupted";
        EXPECT_EQ(WTERMSIG(raw), number);
        // Every file whole, also a temporary one left (named after its frame).
        for (const std::string &bytes : read_frames(out))
            EXPECT_EQ(bytes.size(), 1078u + 500 * 500) << run;
    }
}

} // namespace
