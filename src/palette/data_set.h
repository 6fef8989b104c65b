// The two data sets: the files, sizes and slot layout that -pst switches.
#pragma once

#include <cstdint>

enum data_set_id { DATA_SET_BG2 = 0, DATA_SET_PST = 1 };

struct data_set {
    data_set_id id;
    const char *palette_file;  // 768-byte global palette
    const char *gradient_file; // one gradient per pixel row
    int32_t gradient_rows;     // rows read and drawn; bound of a slot's row
    int32_t gradient_columns;  // colours per gradient
    int32_t swatch_step;       // x distance between swatches in glb_cmap
    int32_t last_slot;         // highest tint slot index
};

extern const data_set bg2; // the default data set
extern const data_set pst; // chosen by -pst
