// Start-up as a process without a display, and the first zoom.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/app.h"
#include "support/shell.h"

const std::string bin = std::string(HUESMITH_BIN_DIR) + "/";

// A run: argv[0], the arguments, the status and the end of the output (a
// cut last line: somewhere in it). A long argv[0] runs from the start
// directory, a short one from the program's.
struct startup_case {
    std::string argv0, args;
    int status;
    std::string end;
};

TEST(StartupProcess, CommandLineWorkingDirectoryAndEarlyFailures)
{
    // The program, its files and an 8 x 8 GIF screen without images; an
    // empty directory to start in.
    std::string dir = make_test_dir();
    std::string start = make_test_dir();
    for (std::string file : {"huesmith", "sample_bg2.gif", "pal_pst.bin"})
        std::filesystem::copy_file(bin + file, dir + "/" + file);
    std::ofstream(dir + "/empty.gif") << std::string("GIF89a\x08\0\x08\0\0\0\0;", 14);
    // What is not a regular file is never waited on: the state file counts as absent.
    mkfifo((dir + "/fifo.gif").c_str(), 0644);
    mkdir((dir + "/adir.gif").c_str(), 0755);
    mkfifo((dir + "/last_palshift.bin").c_str(), 0644);
    const std::string no_frame = "num_frames   = 0\nnum_palettes = 1\n"
                                 "total size   = 24 + 0 + 768 = 792\nno frame in empty.gif\n";
    const std::string in_dir = "\nchdir(" + dir + ")\n";
    const std::string prog = dir + "/huesmith";
    const startup_case cases[] = {
        {prog, "", 0, "\n\nsyntaxe : huesmith.exe <file.gif>\n"},
        // Options match whole arguments in any case, anywhere; the GIF path
        // is the first argument.
        {prog, "sample_bg2.gif -Pcx -pSt", 1, "<pal_pst.bin>\nerror : "},
        {prog, "sample_bg2.gif -pstx", 1, "\n\nunknown option -pstx\n"},
        {prog, "-pst", 1, in_dir + "can't load -pst\n"},
        {prog, "-pst sample_bg2.gif", 1, "\n\nunexpected argument sample_bg2.gif\n"},
        // Files are looked up beside the program, found as it runs,
        // whatever path it was started by.
        {prog, "empty.gif", 1, in_dir + no_frame},
        {"huesmith", "empty.gif", 1, in_dir + no_frame},
        {"/huesmith", "empty.gif", 1, in_dir + no_frame},
        {prog, "fifo.gif", 1, in_dir + "can't load fifo.gif\n"},
        {prog, "adir.gif", 1, in_dir + "can't load adir.gif\n"},
        {prog, "/dev/zero", 1, in_dir + "can't load /dev/zero\n"}};
    for (const startup_case &c : cases) {
        SCOPED_TRACE(c.argv0 + " " + c.args);
        std::string from = c.argv0.size() > 10 ? start : dir;
        std::string run = "exec -a " + c.argv0 + " " + prog + " " + c.args;
        std::string command = "cd " + from + " && env -u DISPLAY timeout 60 bash -c '" + run +
                              "' >" + start + ".out 2>/dev/null";
        int raw = std::system(command.c_str());
        std::string out = read_file(start + ".out");
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), c.status);
        bool whole_line = c.end.back() == '\n';
        size_t at = whole_line ? out.size() - std::min(out.size(), c.end.size()) : out.rfind(c.end);
        at = std::min(at, out.size());
        EXPECT_EQ(out.substr(at, c.end.size()), c.end) << out;
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(start);
    std::filesystem::remove(start + ".out");
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    const struct { int w, h, zoom; } cases[] = {
        {1, 1, 990},    {64, 64, 460},  {100, 100, 290}, {300, 450, 90},  {299, 449, 100},
        {640, 480, 40}, {2999, 10, 10}, {3000, 10, 100}, {10, 4500, 100}, {65535, 65535, 100}};
    for (const auto &c : cases)
        EXPECT_EQ(choose_first_zoom(c.w, c.h), c.zoom) << c.w << " x " << c.h;
}
