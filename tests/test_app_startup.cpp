// Start-up as a process without a display, and the first zoom.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "app/app.h"
#include "support/shell.h"

// Files are looked up beside the program whatever path it was started by;
// what is not a regular file is refused, never waited on.
TEST(StartupProcess, FindsItsFilesAndRefusesWhatIsNotAFile)
{
    std::string dir = make_test_dir();
    std::string bin = std::string(HUESMITH_BIN_DIR) + "/huesmith";
    std::filesystem::copy_file(bin, dir + "/huesmith");
    // An 8 x 8 GIF screen without images.
    std::ofstream(dir + "/empty.gif") << std::string("GIF89a\x08\0\x08\0\0\0\0;", 14);
    mkfifo((dir + "/fifo.gif").c_str(), 0644);
    mkdir((dir + "/adir.gif").c_str(), 0755);
    const std::string in_dir = "\nchdir(" + dir + ")\n";
    // Started from / by another name.
    const std::string elsewhere = "cd / && exec -a /huesmith " + dir + "/huesmith";
    const struct { std::string command, end; int status; } cases[] = {
        {"./huesmith", "\n\nsyntaxe : huesmith.exe <file.gif>\n", 0},
        {elsewhere + " empty.gif", in_dir + "num_frames   = 0\n", 1},
        {"./huesmith fifo.gif", in_dir + "can't load fifo.gif\n", 1},
        {"./huesmith adir.gif", in_dir + "can't load adir.gif\n", 1}};
    for (const auto &c : cases) {
        shell_run run = run_shell(dir, "timeout 60 bash -c '" + c.command + "'");
        EXPECT_EQ(run.status, c.status) << c.command;
        EXPECT_NE(run.output.find(c.end), std::string::npos) << run.output;
    }
    std::filesystem::remove_all(dir);
}

TEST(FirstZoom, LargestMultipleOfTenStrictlyInsideThePreview)
{
    const struct { int w, h, zoom; } cases[] = {
        {1, 1, 990},    {64, 64, 460},  {100, 100, 290}, {300, 450, 90},  {299, 449, 100},
        {640, 480, 40}, {2999, 10, 10}, {3000, 10, 100}, {10, 4500, 100}, {65535, 65535, 100}};
    for (const auto &c : cases)
        EXPECT_EQ(choose_first_zoom(c.w, c.h), c.zoom) << c.w << " x " << c.h;
}
