// -variants: the lines of a variants file, and one run that writes what
// separate -tint runs write.
#include "support/shell.h"

#include "app/app.h"
#include "palette/data_set.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Names and (slot, row) pairs as read, blanks and comments skipped, pairs
// in the file's order; pst has its own slots.
TEST(Variants, LinesReadAsNamesAndTints)
{
    std::string text = "# skins\n\nred: A3:35\n  blue_2 : A3:60, b1:3\r\n";
    text += "\t# off\nplain:\nv.1:B21:115";
    std::vector<variant> variants;
    std::string error;
    ASSERT_TRUE(parse_variants(text, bg2, variants, error)) << error;
    ASSERT_EQ(variants.size(), 4u);
    EXPECT_EQ(variants[0].name, "red");
    using pairs = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(variants[0].tints, pairs({{2, 35}}));
    EXPECT_EQ(variants[1].name, "blue_2");
    EXPECT_EQ(variants[1].tints, pairs({{2, 60}, {7, 3}}));
    EXPECT_EQ(variants[2].name, "plain");
    EXPECT_TRUE(variants[2].tints.empty());
    EXPECT_EQ(variants[3].name, "v.1");
    EXPECT_EQ(variants[3].tints, pairs({{27, 115}}));

    ASSERT_TRUE(parse_variants("p: B4:78", pst, variants, error)) << error;
    EXPECT_EQ(variants[0].tints, pairs({{7, 78}}));
    EXPECT_TRUE(parse_variants("", bg2, variants, error));
    EXPECT_TRUE(variants.empty());
}

// Each bad line is named by its number, with what is wrong with it.
TEST(Variants, MalformedLineRefusedWithItsNumber)
{
    const struct {
        const char *text;
        std::string error;
    } cases[] = {
        {"red A3:35", "bad variant line 1 : expects NAME: A2:9,B3:34"},
        {"\n# c\nok: A1:1\n../up: A1", "bad variant line 4 : the name \"../up\" is no folder name"},
        {": A1:1", "bad variant line 1 : the name \"\" is no folder name"},
        {"a/b: A1:1", "bad variant line 1 : the name \"a/b\" is no folder name"},
        {".hidden: A1:1", "bad variant line 1 : the name \".hidden\" is no folder name"},
        {"a: A1:1\n#\na: A1:2", "bad variant line 3 : a is already the name of line 1"},
        {"x: A8:1", "bad variant line 1 : no slot A8 in this data set (A1..A7, B1..B21)"},
        {"x: A1:116", "bad variant line 1 : row 116 is not in the gradient table (0..115)"},
        {"x: A1:1,", "bad variant line 1 : expects slot:row pairs such as A2:9,B3:34"},
        {"x: A1", "bad variant line 1 : expects slot:row pairs such as A2:9,B3:34"},
    };
    for (const auto &c : cases) {
        std::vector<variant> variants;
        std::string error;
        EXPECT_FALSE(parse_variants(c.text, bg2, variants, error)) << c.text;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
    }
}

// The build's program and data, with its state file, run from a start
// directory that holds the variants files.
struct variant_dirs {
    std::string prog = make_test_dir();
    std::string start = make_test_dir();
    variant_dirs()
    {
        for (std::string name : {"huesmith", "pal_bg2.bin", "pal_pst.bin", "cmaps_bg2_12.bmp",
                                 "cmaps_pst_32.bmp", "sample_bg2.gif", "sample_pst.gif"})
            fs::copy_file(HUESMITH_BIN_DIR "/" + name, prog + "/" + name);
        fs::copy_file(HUESMITH_BIN_DIR "/drawn_palshift.bin", prog + "/last_palshift.bin");
    }
    ~variant_dirs()
    {
        fs::remove_all(prog);
        fs::remove_all(start);
    }
    shell_run run(const std::string &args) const
    {
        return run_shell(start, prog + "/huesmith " + args + " -export -quiet");
    }
};

// Each variant's folder holds what a run with its tints after -tint's
// writes, byte for byte; a variant may override a slot -tint names.
TEST(Variants, OneRunWritesWhatSeparateTintRunsWrite)
{
    variant_dirs d;
    write_file(d.start + "/v.txt", "red: A3:40\n\n# the shoes too\nblue: A4:60,B1:5\nplain:\n");
    shell_run all = d.run("sample_bg2.gif -variants=v.txt -tint=B1:40 -out=all -zoom=150");
    EXPECT_EQ(all.status, 0);
    std::string summaries;
    for (std::string name : {"red", "blue", "plain"})
        summaries += "exported 8 frames to <" + d.start + "/all/" + name + ">\n";
    EXPECT_EQ(all.output, summaries);

    const char *tints[][2] = {{"red", "B1:40,A3:40"}, {"blue", "B1:40,A4:60,B1:5"},
                              {"plain", "B1:40"}};
    for (auto [name, tint] : tints) {
        std::string out = std::string("-out=one_") + name;
        EXPECT_EQ(d.run("sample_bg2.gif -zoom=150 " + out + " -tint=" + tint).status, 0);
        std::vector<std::string> frames = read_frames(d.start + "/all/" + name);
        EXPECT_EQ(frames.size(), 8u) << name;
        EXPECT_TRUE(frames == read_frames(d.start + "/one_" + name)) << name;
    }
    std::vector<std::string> red = read_frames(d.start + "/all/red");
    EXPECT_TRUE(red != read_frames(d.start + "/all/plain"));

    // pst as PCX, into the program's directory when no -out is given.
    write_file(d.start + "/p.txt", "gold: B4:30\n");
    EXPECT_EQ(d.run("sample_pst.gif -pst -pcx -variants=p.txt").status, 0);
    EXPECT_EQ(d.run("sample_pst.gif -pst -pcx -tint=B4:30 -out=gold").status, 0);
    std::vector<std::string> gold = read_frames(d.prog + "/gold");
    EXPECT_EQ(gold.size(), 8u);
    EXPECT_TRUE(gold == read_frames(d.start + "/gold"));
}

// A file with a bad line, none at all, or no variants is refused before
// anything is written; -variants needs -export.
TEST(Variants, BadFilesRefusedBeforeAnythingIsWritten)
{
    variant_dirs d;
    write_file(d.start + "/bad.txt", "red: A3:35\nblue: A4:60\ngreen A5:9\n");
    write_file(d.start + "/empty.txt", "# nothing yet\n\n");
    const struct {
        std::string args, output;
    } cases[] = {
        {"-variants=bad.txt", "bad variant line 3 : expects NAME: A2:9,B3:34\n"},
        {"-variants=empty.txt", "no variant in <" + d.start + "/empty.txt>\n"},
        {"-variants=none.txt", "can't read <" + d.start + "/none.txt>\n"},
        {"-variants=", "bad option -variants= : no file given\n"},
    };
    for (const auto &c : cases) {
        shell_run run = d.run("sample_bg2.gif -out=o " + c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_EQ(run.output, c.output);
        EXPECT_FALSE(fs::exists(d.start + "/o")) << c.args;
    }
    std::string window = d.prog + "/huesmith sample_bg2.gif -quiet -variants=bad.txt";
    shell_run without_export = run_shell(d.start, window);
    EXPECT_EQ(without_export.status, 1);
    std::string refused = "bad option -variants=bad.txt : works with -export only\n";
    EXPECT_EQ(without_export.output, refused);
}

} // namespace
