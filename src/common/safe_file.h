// Files read without blocking on anything that is not a regular file, and
// files written through a temporary file beside them, so that a failed write
// never leaves a broken file, nor writes through a link to someone else's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// Opens path to read without waiting on a FIFO or a device; -1 unless it is
// a regular file.
int open_regular_file(const char *path);

// The same as a stdio stream in binary mode; null unless a regular file.
FILE *open_regular_stream(const char *path);

// Reads the whole regular file; false when it cannot be opened or read, or
// holds more than max_bytes.
bool read_regular_file(const char *path, size_t max_bytes, std::vector<uint8_t> &bytes);

// Writes size bytes as the file name: into a temporary file beside it,
// name + "." + process number + "-" + count (from 0) + ".tmp", made afresh
// (exclusively, never through a link), then renamed over name, which may be
// a link, a FIFO or a file with other links: the name is replaced, nothing
// it pointed to is written. Runs writing one name at once each replace it
// whole. On any failure, or a signal that ends the run, the temporary file
// goes and whatever was at name stays as it was; returns false. No file this
// call did not make is removed or renamed.
bool replace_file(const char *name, const uint8_t *bytes, size_t size);
