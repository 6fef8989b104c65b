// Wuffs (../shared/wuffs/wuffs-v0.3.c beside the repository, when it is
// there) as a peer of the reader: its GIF decoder driven frame by frame and
// composited into 8-bit canvases as the program composites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One frame as a peer leaves it: its rectangle of the canvas, at (x, y).
struct peer_frame {
    int x, y, w, h;
    std::vector<uint8_t> pixels; // w x h, row after row
};

// Where the benchmark looked for Wuffs; empty when it was built without.
const char *find_wuffs_source();

// Decodes the whole file held in data, each frame composited over the
// canvas so far (background index under the first), its rectangle clipped
// to the logical screen kept in frames. False when Wuffs is missing or
// fails on the file.
bool decode_with_wuffs(const uint8_t *data, size_t size, std::vector<peer_frame> &frames);
