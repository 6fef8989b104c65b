// The installed program: runs from elsewhere (through PATH, a link, a folder
// the user cannot write), the state file, the first start as drawn, and
// -variants.
#include "support/shell.h"

#include "app/app.h"
#include "palette/data_set.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The program installed as make install installs it, into a DESTDIR of its
// own; a start directory elsewhere, writable by all, holds walk.gif.
struct installed_copy {
    std::string root = make_test_dir();
    std::string start = make_test_dir(true);
    std::string bin = root + "/usr/hs/bin";
    std::string lib = root + "/usr/hs/lib/huesmith";
    std::string through_path = "env PATH='" + bin + ":/usr/bin:/bin' huesmith "; // found there
    int install_status;
    installed_copy()
    {
        std::string command = "DESTDIR='" + root + "' '" CMAKE_PROGRAM "' --install '";
        install_status = run_shell(root, command + HUESMITH_BIN_DIR "' --prefix /usr/hs").status;
        fs::copy_file(HUESMITH_BIN_DIR "/sample_bg2.gif", start + "/walk.gif");
    }
    ~installed_copy()
    {
        chmod(lib.c_str(), 0755);
        fs::remove_all(root);
        fs::remove_all(start);
    }
};

// Started through PATH and through a link to the link in bin by a user who cannot write the
// installed folder (as root, an unprivileged user: root writes anywhere whatever the modes say).
// The program finds its own folder and files, and writes frames to the start directory; with
// the state file installed beside it every slot shows its entries as the palette holds them
// (entry 0 is the export's grey). Later choices come from the state directory, as the same
// file named by -state= gives them, and as -tint gives the same rows over a state of row 0s.
TEST(Install, RunsThroughPathAndALinkFromAReadOnlyFolderAsDrawn)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    shell_run version = run_shell(copy.start, copy.through_path + "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "huesmith " HUESMITH_VERSION "\n");
    std::string user = "";
    if (geteuid() == 0)
        user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    else
        chmod(copy.lib.c_str(), 0555);
    std::string env = user + "env HOME=/nonexistent XDG_STATE_HOME='" + copy.start + "/xdg' ";
    std::string program = env + copy.through_path + "walk.gif -export ";
    shell_run first = run_shell(copy.start, program);
    EXPECT_NE(first.output.find("frames go to <" + copy.start + ">\n"), std::string::npos);
    std::vector<std::string> bmp = read_frames(copy.start);
    ASSERT_EQ(bmp.size(), 8u);
    fs::create_symlink(copy.bin + "/huesmith", copy.start + "/hs");
    EXPECT_EQ(run_shell(copy.start, env + "./hs walk.gif -export -out=l").status, 0);
    EXPECT_TRUE(bmp == read_frames(copy.start + "/l"));
    std::string bmp_colours;
    for (size_t at = 54 + 4; at < 54 + 1024; at += 4) {
        bmp_colours += bmp[0].at(at + 2);
        bmp_colours += bmp[0].at(at + 1);
        bmp_colours += bmp[0].at(at);
    }
    EXPECT_EQ(bmp_colours, read_file(copy.lib + "/pal_bg2.bin").substr(3));

    fs::create_directories(copy.start + "/xdg/huesmith");
    std::string state(144, '\0');
    std::ofstream(copy.start + "/zero.bin") << state;
    state[4] = 9;        // A2
    state[4 * 27] = 115; // B21
    std::ofstream(copy.start + "/xdg/huesmith/last_palshift.bin") << state;
    std::ofstream(copy.start + "/same.bin") << state;
    EXPECT_EQ(run_shell(copy.start, program + "-out=x").status, 0);
    EXPECT_EQ(run_shell(copy.start, program + "-out=y -state=same.bin").status, 0);
    std::string tint = "-out=t -state=zero.bin -tint=A2:9,b21:115";
    EXPECT_EQ(run_shell(copy.start, program + tint).status, 0);
    std::vector<std::string> frames = read_frames(copy.start + "/x");
    EXPECT_EQ(frames.size(), 8u);
    EXPECT_TRUE(frames == read_frames(copy.start + "/y"));
    EXPECT_TRUE(frames == read_frames(copy.start + "/t"));
    EXPECT_TRUE(frames != bmp);
}

// Each bad line of a variants file is named by its number, with what is wrong.
TEST(Install, VariantLinesRefusedWithTheirNumber)
{
    std::vector<variant> v;
    std::string error;
    const char *bad[][2] = {
        {"\n# c\nok: A1:1\n../up: A1", "bad variant line 4 : the name \"../up\" is no folder"},
        {"a: A1:1\n#\na: A1:2", "bad variant line 3 : a is already the name of line 1"},
        {"x: A1:116", "bad variant line 1 : row 116 is not in the gradient table (0..115)"}};
    for (const auto &c : bad) {
        EXPECT_FALSE(parse_variants(c[0], bg2, v, error)) << c[0];
        EXPECT_EQ(error.substr(0, std::string(c[1]).size()), c[1]);
    }
}

// Each variant's folder holds what a run with -tint's pairs and then its
// own writes, byte for byte; a bad file is refused before anything is written.
TEST(Install, VariantsRunWritesWhatSeparateTintRunsWrite)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    std::string program = copy.through_path + "walk.gif -export -quiet -zoom=150 -tint=B1:40 ";
    std::ofstream(copy.start + "/v.txt") << "red: A3:40\n\n# shoes\n blue : A4:60, b1:5\r\nplain:";
    shell_run all = run_shell(copy.start, program + "-variants=v.txt -out=all");
    EXPECT_EQ(all.status, 0);
    std::string summaries;
    const char *tints[][2] = {{"red", "A3:40"}, {"blue", "A4:60,B1:5"}, {"plain", "B1:40"}};
    for (auto [name, tint] : tints) {
        std::string one = std::string("one_") + name;
        EXPECT_EQ(run_shell(copy.start, program + "-out=" + one + " -tint=" + tint).status, 0);
        std::vector<std::string> frames = read_frames(copy.start + "/all/" + name);
        EXPECT_EQ(frames.size(), 8u);
        EXPECT_TRUE(frames == read_frames(copy.start + "/" + one)) << name;
        summaries += "exported 8 frames to <" + copy.start + "/all/" + name + ">\n";
    }
    EXPECT_EQ(all.output, summaries);
    EXPECT_TRUE(read_frames(copy.start + "/all/red") != read_frames(copy.start + "/all/plain"));

    std::ofstream(copy.start + "/bad.txt") << "red: A3:35\ngreen A5:9\n";
    shell_run bad = run_shell(copy.start, program + "-variants=bad.txt -out=o");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "bad variant line 2 : expects NAME: A2:9,B3:34\n");
    EXPECT_FALSE(fs::exists(copy.start + "/o"));
}

} // namespace
