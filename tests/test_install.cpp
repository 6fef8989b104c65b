// The installed program: make install's layout, runs from elsewhere (through
// PATH, a link, a folder the user cannot write), --version, the state file
// named by -state= and the first start on the rows the slots are drawn with.
#include "support/shell.h"

#include "palette/tint_slots.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The program installed as make install installs it, into a DESTDIR of its
// own under the prefix /usr/hs; a start directory elsewhere holds walk.gif.
struct installed_copy {
    std::string root = make_test_dir();
    std::string start = make_test_dir(true);
    std::string bin = root + "/usr/hs/bin";
    std::string lib = root + "/usr/hs/lib/huesmith";
    int install_status;
    explicit installed_copy(const std::string &prefix = "/usr/hs")
    {
        std::string command = "DESTDIR='" + root + "' '" CMAKE_PROGRAM "' --install '";
        command += std::string(HUESMITH_BIN_DIR) + "' --prefix " + prefix;
        install_status = run_shell(root, command).status;
        fs::copy_file(HUESMITH_BIN_DIR "/sample_bg2.gif", start + "/walk.gif");
    }
    ~installed_copy()
    {
        chmod(lib.c_str(), 0755);
        fs::remove_all(root);
        fs::remove_all(start);
    }
    // The installed program found through PATH.
    std::string through_path() const
    {
        return "env PATH='" + bin + ":/usr/bin:/bin' huesmith ";
    }
};

// Entries 1..255 of a BMP's colour table (blue, green, red, 0 each) as red,
// green, blue; entry 0 is the export's grey.
std::string read_bmp_colours(const std::string &bmp)
{
    std::string rgb;
    for (size_t at = 54 + 4; at < 54 + 1024; at += 4) {
        rgb += bmp.at(at + 2);
        rgb += bmp.at(at + 1);
        rgb += bmp.at(at);
    }
    return rgb;
}

TEST(Install, PutsTheProgramWithItsDataAndALinkAndUninstallRemovesThem)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    EXPECT_EQ(fs::read_symlink(copy.bin + "/huesmith"), "../lib/huesmith/huesmith");
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(copy.lib))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {
        "cmaps_bg2_12.bmp", "cmaps_pst_32.bmp", "huesmith", "last_palshift.bin", "pal_bg2.bin",
        "pal_pst.bin", "remap_bg2.gif", "remap_pst.gif", "sample_bg2.gif", "sample_pst.gif"};
    EXPECT_EQ(names, expected);
    // The installed state is the generator's, never the build folder's saved choices.
    std::string drawn = read_file(HUESMITH_BIN_DIR "/drawn_palshift.bin");
    EXPECT_EQ(read_file(copy.lib + "/last_palshift.bin"), drawn);

    std::string make = "make -s -C '" HUESMITH_SOURCE_DIR "' uninstall PREFIX=/usr/hs DESTDIR='";
    EXPECT_EQ(run_shell(copy.root, make + copy.root + "'").status, 0);
    EXPECT_FALSE(fs::exists(copy.lib));
    EXPECT_FALSE(fs::is_symlink(copy.bin + "/huesmith"));
    EXPECT_TRUE(fs::exists(copy.root + "/usr/hs/bin"));
}

// Every file and link below root, as paths from it starting "./".
std::vector<std::string> list_tree(const std::string &root)
{
    std::vector<std::string> paths;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory() || entry.is_symlink())
            paths.push_back("." + entry.path().string().substr(root.size()));
    std::sort(paths.begin(), paths.end());
    return paths;
}

// make deb's package holds what make install installs under /usr, and
// depends on the libraries the program runs on.
TEST(Install, DebianPackageHoldsWhatInstallInstalls)
{
    installed_copy copy("/usr");
    ASSERT_EQ(copy.install_status, 0);
    std::string config = HUESMITH_BIN_DIR "/CPackConfig.cmake";
    std::string pack = "'" CPACK_PROGRAM "' -G DEB -B pkg --config '" + config + "'";
    ASSERT_EQ(run_shell(copy.start, pack).status, 0);
    std::string deb = copy.start + "/pkg/huesmith_" HUESMITH_VERSION "_amd64.deb";
    std::string files = "dpkg-deb -c '" + deb + "' | grep -v '^d' | awk '{print $6}' | sort";
    std::string listed = run_shell(copy.start, files).output;
    std::string installed;
    for (const std::string &path : list_tree(copy.root))
        installed += path + "\n";
    EXPECT_EQ(listed, installed);
    EXPECT_NE(installed.find("./usr/lib/huesmith/pal_bg2.bin\n"), std::string::npos);
    std::string depends = run_shell(copy.start, "dpkg-deb -f '" + deb + "' Depends").output;
    EXPECT_NE(depends.find("liballegro4.4"), std::string::npos) << depends;
    EXPECT_NE(depends.find("libx11-6"), std::string::npos) << depends;
}

// Started by name through PATH, and through a link to the link in bin: the
// program finds its own folder each time, and its files there.
TEST(Install, RunsThroughPathAndThroughALinkFromAnotherDirectory)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    shell_run version = run_shell(copy.start, copy.through_path() + "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "huesmith " HUESMITH_VERSION "\n");

    shell_run by_path = run_shell(copy.start, copy.through_path() + "walk.gif -export -out=p");
    EXPECT_EQ(by_path.status, 0) << by_path.output;
    EXPECT_NE(by_path.output.find("chdir(" + copy.lib + ")\n"), std::string::npos);
    std::string summary = "exported 8 frames to <" + copy.start + "/p>\n";
    EXPECT_NE(by_path.output.find(summary), std::string::npos) << by_path.output;

    fs::create_directory(copy.start + "/links");
    fs::create_symlink(copy.bin + "/huesmith", copy.start + "/links/hs");
    shell_run by_link = run_shell(copy.start, "links/hs walk.gif -export -out=l");
    EXPECT_EQ(by_link.status, 0) << by_link.output;
    EXPECT_NE(by_link.output.find("chdir(" + copy.lib + ")\n"), std::string::npos);
    EXPECT_EQ(read_frames(copy.start + "/l").size(), 8u);
    EXPECT_TRUE(read_frames(copy.start + "/l") == read_frames(copy.start + "/p"));
}

// A user who cannot write the installed folder: as root, an unprivileged
// user (root writes anywhere whatever the modes say, so taking the write
// bits away proves nothing); as anyone else, the folder without its write
// bits. The choices are read from (and saved to) the state directory, which
// starts from the installed state file; frames go to the start directory.
TEST(Install, ReadOnlyCopyWritesToTheStartAndStateDirectories)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    std::string user = "";
    if (geteuid() == 0)
        user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    else
        chmod(copy.lib.c_str(), 0555);
    std::string state_dir = copy.start + "/xdg/huesmith";
    std::string program = user + "env HOME=/nonexistent XDG_STATE_HOME='" + copy.start + "/xdg' ";
    program += copy.through_path();

    shell_run first = run_shell(copy.start, program + "walk.gif -export");
    EXPECT_EQ(first.status, 0) << first.output;
    std::string places = "frames go to <" + copy.start + ">\n";
    EXPECT_NE(first.output.find(places), std::string::npos) << first.output;
    std::vector<std::string> drawn = read_frames(copy.start);
    ASSERT_EQ(drawn.size(), 8u);
    EXPECT_EQ(read_frames(copy.lib).size(), 0u);

    fs::create_directories(state_dir);
    write_file(state_dir + "/last_palshift.bin", make_state({0, 9, 40}));
    write_file(copy.start + "/same.bin", make_state({0, 9, 40}));
    EXPECT_EQ(run_shell(copy.start, program + "walk.gif -export -out=x").status, 0);
    EXPECT_EQ(run_shell(copy.start, program + "walk.gif -export -out=y -state=same.bin").status, 0);
    EXPECT_EQ(read_frames(copy.start + "/x").size(), 8u);
    EXPECT_TRUE(read_frames(copy.start + "/x") == read_frames(copy.start + "/y"));
    EXPECT_TRUE(read_frames(copy.start + "/x") != drawn);
}

// With the state file the build (and the install) puts beside the program,
// every slot shows its entries exactly as the palette holds them.
TEST(Install, FirstStartShowsEverySlotAsDrawn)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    std::string bg2_palette = read_file(copy.lib + "/pal_bg2.bin");
    std::string pst_palette = read_file(copy.lib + "/pal_pst.bin");
    ASSERT_EQ(bg2_palette.size(), 768u);
    ASSERT_EQ(pst_palette.size(), 768u);

    EXPECT_EQ(run_shell(copy.start, copy.through_path() + "walk.gif -export -out=b").status, 0);
    std::vector<std::string> bmp = read_frames(copy.start + "/b");
    ASSERT_EQ(bmp.size(), 8u);
    EXPECT_EQ(read_bmp_colours(bmp[0]), bg2_palette.substr(3));

    std::string pst_run = "sample_pst.gif -pst -pcx -export -out=p";
    EXPECT_EQ(run_shell(copy.start, copy.through_path() + pst_run).status, 0);
    std::vector<std::string> pcx = read_frames(copy.start + "/p");
    ASSERT_EQ(pcx.size(), 8u);
    EXPECT_EQ(pcx[7].substr(pcx[7].size() - 765), pst_palette.substr(3));

    // Without a state file every slot is on row 0, which is not as drawn.
    fs::remove(copy.lib + "/last_palshift.bin");
    EXPECT_EQ(run_shell(copy.start, copy.through_path() + "walk.gif -export -out=z").status, 0);
    std::vector<std::string> plain = read_frames(copy.start + "/z");
    ASSERT_EQ(plain.size(), 8u);
    EXPECT_NE(read_bmp_colours(plain[0]), bg2_palette.substr(3));
}

// -state=FILE, taken from the start directory, supplies the rows as the
// same rows given with -tint do.
TEST(Install, StateOptionReadsTheFileNamedFromTheStartDirectory)
{
    installed_copy copy;
    ASSERT_EQ(copy.install_status, 0);
    fs::create_directory(copy.start + "/mine");
    write_file(copy.start + "/mine/walk.bin", make_state({0, 9, 0, 0, 0, 0, 0, 30}));
    write_file(copy.start + "/zero.bin", make_state({}));
    std::string program = copy.through_path() + "walk.gif -export ";
    EXPECT_EQ(run_shell(copy.start, program + "-out=a -state=mine/walk.bin").status, 0);
    EXPECT_EQ(run_shell(copy.start, program + "-out=b -state=zero.bin -tint=A2:9,B1:30").status, 0);
    EXPECT_EQ(run_shell(copy.start, program + "-out=c -state=zero.bin").status, 0);
    EXPECT_EQ(read_frames(copy.start + "/a").size(), 8u);
    EXPECT_TRUE(read_frames(copy.start + "/a") == read_frames(copy.start + "/b"));
    EXPECT_TRUE(read_frames(copy.start + "/a") != read_frames(copy.start + "/c"));
    shell_run empty = run_shell(copy.start, program + "-quiet -state=");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.output, "bad option -state= : no file given\n");
}

// The tables saved to the file the run names, and read back from it.
TEST(StateFile, SavedToAndLoadedFromTheNamedFile)
{
    std::string dir = make_test_dir();
    glb_palshift_file = dir + "/choices.bin";
    palshift_bg2[1] = 9;
    palshift_pst[7] = 78;
    save_palshift_file();
    std::string expected = make_state({0, 9});
    expected[140] = 78;
    EXPECT_EQ(read_file(dir + "/choices.bin"), expected);
    palshift_bg2[1] = 0;
    palshift_pst[7] = 0;
    load_palshift_file();
    EXPECT_EQ(palshift_bg2[1], 9);
    EXPECT_EQ(palshift_pst[7], 78);
    glb_palshift_file = "last_palshift.bin";
    fs::remove_all(dir);
}

} // namespace
