// Per-input bodies of the fuzz targets, replayed by the regression tests:
// each feeds one input to a loader and checks what it left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct gif_anim;

// Starts the graphics library without a display, once per process.
void start_fuzz_allegro();

// A fuzz process: the library, and standard output sent to /dev/null (the
// GIF reader traces every block).
void start_fuzz_session();

// Private scratch directory of this process, made on first use and removed
// at exit.
const std::string &get_fuzz_work_dir();

// Writes bytes to a file; false when it cannot be written whole.
bool write_fuzz_file(const std::string &path, const uint8_t *data, size_t size);

// Every body returns "" when the input was handled within the rules,
// otherwise a line saying what went wrong.

// The record's frames, bitmaps and palette slots walked as the remap
// indexes them (pal -1 reads nothing).
std::string check_gif_anim(const gif_anim *anim);

// load_gif_anim on the input, the walk above, destroy.
std::string run_gif_body(const uint8_t *data, size_t size);

// The input as "last_palshift.bin" in a fresh directory: load, every entry
// in range (and kept when it already was), save.
std::string run_palshift_body(const uint8_t *data, size_t size);

// The input as palette file and as gradient bitmap of both data sets.
std::string run_palette_body(const uint8_t *data, size_t size);

// The input as one image's data for the plain reference LZW decoder and the
// program's, fresh, kept from earlier inputs and into rows that are not
// contiguous: all must leave the same pixels and stream position.
// Bytes 0..4: code size (mod 13), width, height, flags (1 interlaced, 2
// transparent) and transparent index; the rest is the data from the first
// sub-block's size byte on.
std::string run_lzw_body(const uint8_t *data, size_t size);

// Aborts with the text when a body reported a problem (for the fuzzers).
void stop_on_fuzz_problem(const std::string &problem);

