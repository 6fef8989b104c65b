// The program driven from a shell with no display: export without a window,
// its options and their failures, paths taken from the start directory.
#include <algorithm>
#include <filesystem>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "gif_write.h"
#include "support/shell.h"

namespace {

namespace fs = std::filesystem;

// The program, its files, the state file and a bad "walk.gif"; the start
// directory: a good "walk.gif" and a plain file "file".
struct dirs {
    std::string prog = make_test_dir();
    std::string start = make_test_dir();
    explicit dirs(const std::string &state)
    {
        const char *files[] = {"huesmith",         "pal_bg2.bin",      "pal_pst.bin",
                               "cmaps_bg2_12.bmp", "cmaps_pst_32.bmp", "sample_bg2.gif",
                               "sample_pst.gif"};
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
};

struct run_result {
    int status;
    std::string output;
};

// The shell command run: its status and output.
run_result run_command(const dirs &d, const std::string &command)
{
    int status = std::system((command + " >" + d.prog + "/out.txt 2>/dev/null").c_str());
    run_result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.output = read_file(d.prog + "/out.txt");
    return result;
}

// The program run from the start directory with no display: its status and output.
run_result run_batch(const dirs &d, const std::vector<std::string> &args)
{
    std::string command = "cd " + d.start + " && env -u DISPLAY " + d.prog + "/huesmith";
    for (const std::string &arg : args)
        command += " '" + arg + "'";
    return run_command(d, command);
}

// Every file in dir by name: its contents.
std::map<std::string, std::string> read_folder(const std::string &dir)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::directory_iterator(dir))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

// text with every "<P" and "<S" spelled out: the program's and the start
// directory.
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

const std::string state(144, '\0');

// A run with -quiet from the start directory: its arguments, its whole
// output ("..." its end only), its status, the directory of the 8 frames
// written and their size (BMP: 1078 bytes of headers and palette, then rows
// of a multiple of four; w -1: PCX). No directory: nothing is written.
struct run_case {
    std::vector<std::string> args;
    std::string output;
    int status;
    std::string frames_dir;
    int w, h;
};

TEST(CommandLine, RunsFromAShell)
{
    const std::string zoom = " : the zoom is a percentage from 1 to 1000";
    const std::string bad = "bad option -";
    const std::string bmp = "sample_bg2.gif";
    const std::string bg2_slots = " : no slot A8 in this data set (A1..A7, B1..B21)";
    const std::string pst_slots = " : no slot B5 in this data set (A1..A4, B1..B4)";
    const std::string help = "...-help, --help, -h   this text";
    const run_case cases[] = {
        {{bmp, "-export"}, "exported 8 frames to <P>", 0, "<P", 80, 112},
        {{"sample_pst.gif", "-pst", "-EXPORT", "-pcx", "-zoom=1000", "-out=new/deeper"},
         "exported 8 frames to <S/new/deeper>", 0, "<S/new/deeper", -1, 0},
        {{"walk.gif", "-export", "-ZOOM=50", "-out=."},
         "exported 8 frames to <S>", 0, "<S", 40, 56},
        {{"walk.gif", "-export", "-out=/proc"},
         "...bmp>\nexported 0 frames to </proc>", 1, "", 0, 0},
        {{bmp, "-export", "-out=file/x"},
         "can't create <S/file/x>\nexported 0 frames to <S/file/x>", 1, "", 0, 0},
        {{bmp, "-zoom=0"}, bad + "zoom=0" + zoom, 1, "", 0, 0},
        {{bmp, "-zoom=5000"}, bad + "zoom=5000" + zoom, 1, "", 0, 0},
        {{bmp, "-tint=A8:1"}, bad + "tint=A8:1" + bg2_slots, 1, "", 0, 0},
        {{bmp, "-tint=a1:2,B5:1", "-pst"}, bad + "tint=a1:2,B5:1" + pst_slots, 1, "", 0, 0},
        {{bmp, "-tint=B21:116"},
         bad + "tint=B21:116 : row 116 is not in the gradient table (0..115)", 1, "", 0, 0},
        {{bmp, "-pst", "-tint=A4:79"},
         bad + "tint=A4:79 : row 79 is not in the gradient table (0..78)", 1, "", 0, 0},
        {{bmp, "-tint=A2"},
         bad + "tint=A2 : expects slot:row pairs such as A2:9,B3:34", 1, "", 0, 0},
        {{bmp, "-out="}, bad + "out= : no directory given", 1, "", 0, 0},
        {{bmp, "-export", "-pcs"}, "unknown option -pcs", 1, "", 0, 0},
        {{bmp, "-export", "recoloured/walk"}, "unexpected argument recoloured/walk", 1, "", 0, 0},
        {{bmp, "-pcs", "-h"}, help, 0, "", 0, 0},
        {{bmp, "--HELP"}, help, 0, "", 0, 0},
    };
    for (const run_case &c : cases) {
        dirs d(state);
        std::vector<std::string> args = c.args;
        args.push_back("-quiet");
        run_result run = run_batch(d, args);
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
        if (c.w < 0) {
            EXPECT_EQ(frames[0][0], '\x0A');
        } else {
            EXPECT_EQ(frames[0][0], 'B');
            EXPECT_EQ(frames[0].size(), size_t(1078 + c.w * c.h));
        }
    }
}

// Rows given with -tint export as the same rows saved would (each row gives
// its own palette), and are not saved.
TEST(CommandLine, TintOverridesTheSavedRowsForOneRun)
{
    std::string saved = state;
    saved[4] = 5; // bg2 A2
    std::string given = state;
    given[4] = 9;        // bg2 A2
    given[4 * 27] = 115; // bg2 B21
    given[4 * 35] = 78;  // pst B4
    dirs tinted(saved);
    dirs plain(given);
    const struct {
        std::string set, tints;
        std::vector<std::string> options;
    } runs[] = {{"bg2", "-tint=A2:9,b21:115", {"-quiet"}},
                {"pst", "-tint=B4:78", {"-pst", "-pcx"}}};
    for (const auto &r : runs) {
        std::vector<std::string> args = {"sample_" + r.set + ".gif", "-export", "-out=" + r.set};
        args.insert(args.end(), r.options.begin(), r.options.end());
        EXPECT_EQ(run_batch(plain, args).status, 0);
        args.push_back(r.tints);
        EXPECT_EQ(run_batch(tinted, args).status, 0);
        std::vector<std::string> frames = read_frames(tinted.start + "/" + r.set);
        EXPECT_EQ(frames.size(), 8u);
        EXPECT_EQ(frames, read_frames(plain.start + "/" + r.set)) << r.set;
    }
    EXPECT_EQ(read_file(tinted.prog + "/last_palshift.bin"), saved);
}

// Started from a directory removed since, a relative -out= has nothing to be
// taken from: refused, nothing written. An absolute one still works.
TEST(CommandLine, RelativeOutFromARemovedStartDirectoryIsRefused)
{
    dirs d(state);
    const std::string gone = d.start + "/gone";
    const std::string start = "mkdir " + gone + " && cd " + gone + " && rmdir " + gone;
    const std::string program = " && env -u DISPLAY " + d.prog + "/huesmith sample_bg2.gif";
    const std::string options = " -export -quiet -out=";
    run_result relative = run_command(d, start + program + options + "rel");
    EXPECT_EQ(relative.status, 1);
    EXPECT_EQ(relative.output, "bad option -out=rel : can't find the directory it is taken from\n");
    EXPECT_FALSE(fs::exists(d.prog + "/rel"));
    EXPECT_TRUE(read_frames(d.prog).empty());
    const std::string absolute = d.start + "/abs";
    run_result from_root = run_command(d, start + program + options + absolute);
    EXPECT_EQ(from_root.status, 0);
    EXPECT_EQ(from_root.output, "exported 8 frames to <" + absolute + ">\n");
}

// Two exports into one folder at once, with different tints, many times:
// each run says truly that it wrote all eight frames, every frame left is
// whole and one run's own, and no temporary file is left.
TEST(CommandLine, ExportsIntoOneFolderAtOnceEachWriteWholeFiles)
{
    dirs d(state);
    const std::string tints[] = {"-tint=A2:9", "-tint=A2:40"};
    const std::string program = "env -u DISPLAY " + d.prog + "/huesmith " + d.start + "/walk.gif";
    const std::string options = " -export -quiet -zoom=1000 -out=";
    std::map<std::string, std::string> alone[2];
    for (int run = 0; run < 2; run++) {
        const std::string out = d.start + "/alone" + std::to_string(run);
        ASSERT_EQ(run_command(d, program + options + out + " " + tints[run]).status, 0);
        alone[run] = read_folder(out);
        ASSERT_EQ(alone[run].size(), 8u);
    }
    ASSERT_NE(alone[0]["frame000.bmp"], alone[1]["frame000.bmp"]);
    const std::string shared = d.start + "/shared";
    for (int round = 0; round < 20; round++) {
        std::string command;
        for (int run = 0; run < 2; run++) {
            const std::string report = d.prog + "/run" + std::to_string(run) + ".txt";
            command += "{ " + program + options + shared + " " + tints[run] + " >" + report;
            command += "; echo $? >>" + report + "; } & ";
        }
        std::system((command + "wait").c_str());
        for (int run = 0; run < 2; run++) {
            const std::string report = d.prog + "/run" + std::to_string(run) + ".txt";
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
// script), ended by the signal once its first frame is in out: how it ended.
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
    for (int polls = 0; polls < 60000 && !fs::exists(out + "/frame000.bmp"); polls++)
        usleep(1000);
    kill(pid, number);
    int raw = 0;
    waitpid(pid, &raw, 0);
    return raw;
}

// SIGINT, SIGTERM or SIGHUP in the middle of a long export, even to a run
// started with SIGINT ignored: the run ends by the signal, and its folder
// holds whole frames only, no temporary file. The frame being written when
// the signal comes varies, so each signal is sent to a few runs.
TEST(CommandLine, InterruptedExportLeavesWholeFramesOnly)
{
    dirs d(state);
    // 1000 frames of one pixel on a 100 x 100 screen, 250 kB files at zoom
    // 500: the export takes hundreds of times as long as its first frame.
    // Black is a colour of the palette.
    const std::vector<gif_rgb> table(2, gif_rgb{0, 0, 0});
    std::vector<gif_out_frame> frames;
    for (int i = 0; i < 1000; i++)
        frames.push_back({i % 100, i / 100, 1, 1, {1}, 10, false, {}});
    const std::string gif = d.start + "/long.gif";
    ASSERT_TRUE(write_gif_file(gif.c_str(), 100, 100, table, frames));
    for (int run = 0; run < 9; run++) {
        const int number = run % 3 == 0 ? SIGINT : run % 3 == 1 ? SIGTERM : SIGHUP;
        const std::string out = d.start + "/out" + std::to_string(run);
        int raw = interrupt_export(d.prog + "/huesmith", gif, out, number);
        ASSERT_TRUE(WIFSIGNALED(raw)) << "run " << run << " was not interrupted";
        EXPECT_EQ(WTERMSIG(raw), number);
        std::map<std::string, std::string> files = read_folder(out);
        EXPECT_LT(files.size(), 1000u);
        for (const auto &[name, bytes] : files) {
            EXPECT_EQ(name.size(), 12u) << run << " " << name;
            EXPECT_EQ(name.substr(8), ".bmp") << run << " " << name;
            EXPECT_EQ(bytes.size(), 1078u + 500 * 500) << run << " " << name;
        }
    }
}

} // namespace
