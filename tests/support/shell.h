// The program run as a shell runs it, and the files it leaves.
#pragma once

#include <string>
#include <vector>

// A new directory that every user may enter and read; all may write in it
// when shared is true.
std::string make_test_dir(bool shared = false);

// The whole file, "" when it cannot be read.
std::string read_file(const std::string &path);

// The contents of the files in dir whose names start with "frame", in name order.
std::vector<std::string> read_frames(const std::string &dir);

// What a command run by sh -c in dir, with no display, printed on its
// standard output, and its exit status.
struct shell_run {
    int status;
    std::string output;
};
shell_run run_shell(const std::string &dir, const std::string &command);
