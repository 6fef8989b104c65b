// Runs the program as a separate process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct process_result {
    int status;          // exit status, or 128 + signal when it was killed
    std::string output;  // everything written to standard output
};

// Starts program with argv[0] = argv0 and the given arguments, in workdir.
// The X display variable is removed unless keep_display is set.
process_result run_process(const std::string &program, const std::string &argv0,
                           const std::vector<std::string> &args, const std::string &workdir,
                           bool keep_display = false);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// Copies a file; false on any failure.
bool copy_file(const std::string &from, const std::string &to);

std::string read_file(const std::string &path);
bool write_file(const std::string &path, const std::string &bytes);
