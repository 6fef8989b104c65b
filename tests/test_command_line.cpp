// The program driven from a shell with no display: export without a window,
// its options and their failures, paths taken from the start directory.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "gif_write.h"
#include "support/shell.h"

namespace {

namespace fs = std::filesystem;

const std::string state(144, '\0');

// The program, its files, the state file and a bad "walk.gif"; the start
// directory: a good "walk.gif" and a plain file "file".
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
        std::ofstream(prog + "/last_palshift.bin") << state;
        std::ofstream(prog + "/walk.gif") << "GIF";
        fs::copy_file(prog + "/sample_bg2.gif", start + "/walk.gif");
        std::ofstream(start + "/file");
    }
    ~dirs()
    {
        fs::remove_all(prog);
        fs::remove_all(start);
    }
    // The program run from the start directory with args.
    shell_run run(const std::vector<std::string> &args) const
    {
        std::string command = program;
        for (const std::string &arg : args)
            command += " '" + arg + "'";
        return run_shell(start, command);
    }
};

// Every file in dir by name: its contents.
std::map<std::string, std::string> read_folder(const std::string &dir)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::directory_iterator(dir))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

// text with "<P" and "<S" spelled out: the program's and the start directory.
std::string name_dirs(std::string text, const dirs &d)
{
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        if (text.compare(at, 2, "<P") == 0)
            text.replace(at + 1, 1, d.prog);
        else if (text.compare(at, 2, "<S") == 0)
            text.replace(at + 1, 1, d.start);
    }
    return text;
}

// A run with -quiet from the start directory: its arguments, its whole
// output ("..." its end only), its status, the directory of the 8 frames
// written and the size of each: a BMP's 1078 bytes of headers and palette
// and its rows of a multiple of four; 0 for a PCX. No directory: nothing
// is written.
struct run_case {
    std::vector<std::string> args;
    std::string output;
    int status;
    std::string frames_dir;
    size_t bmp_size;
};

TEST(CommandLine, RunsFromAShell)
{
    const std::string zoom = " : the zoom is a percentage from 1 to 1000";
    const std::string bad = "bad option -";
    const std::string bmp = "sample_bg2.gif";
    const std::string bg2_slots = " : no slot A8 in this data set (A1..A7, B1..B21)";
    const std::string pst_slots = " : no slot B5 in this data set (A1..A4, B1..B4)";
    const std::string rows = " : row 116 is not in the gradient table (0..115)";
    const std::string pairs = " : expects slot:row pairs such as A2:9,B3:34";
    const std::string help = "...-help, --help, -h   this text";
    const std::string pst = "sample_pst.gif";
    const std::string one_format = " chose the format already (one of -pcx, -png, -gif, -sheet)";
    const run_case cases[] = {
        {{bmp, "-export", "-tint=A2:9"}, "exported 8 frames to <P>", 0, "<P", 1078 + 80 * 112},
        {{pst, "-pst", "-EXPORT", "-pcx", "-zoom=1000", "-out=new/deeper"},
         "exported 8 frames to <S/new/deeper>", 0, "<S/new/deeper", 0},
        {{"walk.gif", "-export", "-ZOOM=50", "-out=."},
         "exported 8 frames to <S>", 0, "<S", 1078 + 40 * 56},
        {{"walk.gif", "-export", "-out=/proc"}, "...bmp>\nexported 0 frames to </proc>", 1, "", 0},
        {{bmp, "-export", "-out=file/x"},
         "can't create <S/file/x>\nexported 0 frames to <S/file/x>", 1, "", 0},
        {{bmp, "-zoom=0"}, bad + "zoom=0" + zoom, 1, "", 0},
        {{bmp, "-zoom=1001"}, bad + "zoom=1001" + zoom, 1, "", 0},
        {{bmp, "-tint=A8:1"}, bad + "tint=A8:1" + bg2_slots, 1, "", 0},
        {{bmp, "-tint=a1:2,B5:1", "-pst"}, bad + "tint=a1:2,B5:1" + pst_slots, 1, "", 0},
        {{bmp, "-tint=B21:116"}, bad + "tint=B21:116" + rows, 1, "", 0},
        {{bmp, "-tint=A2"}, bad + "tint=A2" + pairs, 1, "", 0},
        {{bmp, "-out="}, bad + "out= : no directory given", 1, "", 0},
        {{bmp, "-export", "-pcs"}, "unknown option -pcs", 1, "", 0},
        {{bmp, "-export", "recoloured/walk"}, "unexpected argument recoloured/walk", 1, "", 0},
        {{bmp, "-gif", "-pcx"}, bad + "pcx : -gif" + one_format, 1, "", 0},
        {{bmp, "-export", "-SHEET", "-png"}, bad + "png : -SHEET" + one_format, 1, "", 0},
        {{"walk.gif", "-gif", "-png", "-Gif"}, bad + "png : -gif" + one_format, 1, "", 0},
        {{"walk.gif", "-export", "-gif", "-GIF", "-out=."},
         "exported 8 frames to <S/walk_tinted.gif>", 0, "", 0},
        {{bmp, "-pcs", "-h"}, help, 0, "", 0},
        {{bmp, "--HELP"}, help, 0, "", 0},
    };
    for (const run_case &c : cases) {
        dirs d;
        std::vector<std::string> args = c.args;
        args.push_back("-quiet");
        shell_run run = d.run(args);
        std::string expected = name_dirs(c.output, d) + "\n";
        SCOPED_TRACE(expected);
        EXPECT_EQ(run.status, c.status);
        if (expected.rfind("...", 0) == 0) {
            std::string end = expected.substr(3);
            size_t from = run.output.size() - std::min(run.output.size(), end.size());
            EXPECT_EQ(run.output.substr(from), end);
        } else {
            EXPECT_EQ(run.output, expected);
        }
        EXPECT_EQ(read_file(d.prog + "/last_palshift.bin"), state);
        if (c.frames_dir.empty()) {
            EXPECT_TRUE(read_frames(d.prog).empty());
            EXPECT_TRUE(read_frames(d.start).empty());
            continue;
        }
        std::vector<std::string> frames = read_frames(name_dirs(c.frames_dir, d).substr(1));
        ASSERT_EQ(frames.size(), 8u);
        if (c.bmp_size == 0) {
            EXPECT_EQ(frames[0][0], '\x0A');
        } else {
            EXPECT_EQ(frames[0][0], 'B');
            EXPECT_EQ(frames[0].size(), c.bmp_size);
        }
    }
}

// Started from a directory removed since, a relative -out= has nothing to be
// taken from: refused, nothing written. An absolute one still works.
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
    const std::string absolute = d.start + "/abs";
    shell_run from_root = run_shell(d.start, run + absolute);
    EXPECT_EQ(from_root.status, 0);
    EXPECT_EQ(from_root.output, "exported 8 frames to <" + absolute + ">\n");
}

// Two exports into one folder at once, with different tints, many times:
// each run says truly that it wrote all eight frames, every frame left is
// whole and one run's own, and no temporary file is left.
TEST(CommandLine, ExportsIntoOneFolderAtOnceEachWriteWholeFiles)
{
    dirs d;
    const std::string tints[] = {"-tint=A2:9", "-tint=A2:40"};
    const std::string run = d.program + " walk.gif -export -quiet -zoom=1000 -out=";
    std::map<std::string, std::string> alone[2];
    for (int i = 0; i < 2; i++) {
        const std::string out = d.start + "/alone" + std::to_string(i);
        ASSERT_EQ(run_shell(d.start, run + out + " " + tints[i]).status, 0);
        alone[i] = read_folder(out);
        ASSERT_EQ(alone[i].size(), 8u);
    }
    ASSERT_NE(alone[0]["frame000.bmp"], alone[1]["frame000.bmp"]);
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
        std::map<std::string, std::string> files = read_folder(shared);
        EXPECT_EQ(files.size(), 8u) << round;
        for (const auto &[name, bytes] : files) {
            bool whole = bytes == alone[0][name] || bytes == alone[1][name];
            EXPECT_TRUE(whole) << round << " " << name;
        }
    }
}

// The export run in a child with SIGINT ignored (a background job of a
// script), sent the signal once its first frame is in out: the raw status.
// A run that ends before the frame appears, or by itself before the signal
// comes, ends the wait all the same.
int interrupt_export(const std::string &program, const std::string &gif, const std::string &out,
                     int number)
{
    const std::string out_option = "-out=" + out;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_IGN);
        unsetenv("DISPLAY");
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
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
// holds whole frames only, no temporary file. The frame being written when
// the signal comes varies, so each signal is sent to a few runs. A run that
// wrote all its frames before the signal came proves nothing and is made
// again.
TEST(CommandLine, InterruptedExportLeavesWholeFramesOnly)
{
    dirs d;
    // 1000 frames of one pixel on a 100 x 100 screen, 250 kB files at zoom
    // 500: the export takes hundreds of times as long as its first frame.
    // Black is a colour of the palette.
    const std::vector<gif_rgb> table(2, gif_rgb{0, 0, 0});
    std::vector<gif_out_frame> frames;
    for (int i = 0; i < 1000; i++)
        frames.push_back({i % 100, i / 100, 1, 1, {1}, 10, false, {}});
    const std::string gif = d.start + "/long.gif";
    ASSERT_TRUE(write_gif_file(gif.c_str(), 100, 100, table, frames));
    const int numbers[] = {SIGINT, SIGTERM, SIGHUP};
    for (int run = 0; run < 9; run++) {
        const int number = numbers[run % 3];
        const std::string out = d.start + "/out" + std::to_string(run);
        int raw = interrupt_export(d.program, gif, out, number);
        int finished = 0;
        while (fs::exists(out) && read_folder(out).size() == 1000) {
            finished++;
            ASSERT_LT(finished, 5) << "the exports end before their signals";
            fs::remove_all(out);
            raw = interrupt_export(d.program, gif, out, number);
        }
        ASSERT_TRUE(WIFSIGNALED(raw)) << "run " << run << " was not interrupted";
        EXPECT_EQ(WTERMSIG(raw), number);
        std::map<std::string, std::string> files = read_folder(out);
        for (const auto &[name, bytes] : files) {
            EXPECT_EQ(name.size(), 12u) << run << " " << name;
            EXPECT_EQ(name.substr(8), ".bmp") << run << " " << name;
            EXPECT_EQ(bytes.size(), 1078u + 500 * 500) << run << " " << name;
        }
    }
}

} // namespace
