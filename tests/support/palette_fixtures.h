// Helpers for tests that run the palette engine: a library without a
// display and child-process runs for code that ends the process.
#pragma once

#include <functional>
#include <string>

// Installs the library without a display (once) and sets 32-bit depth.
void init_palette_test_library();

struct child_run {
    int status;         // exit status, -1 when the child did not exit
    std::string output; // everything the child wrote to stdout
};

// Runs body in a forked child with stdout sent to a file.
child_run run_in_child(const std::function<void()> &body);
