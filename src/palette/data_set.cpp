#include "palette/data_set.h"

const data_set bg2 = {DATA_SET_BG2, "pal_bg2.bin", "cmaps_bg2_12.bmp", 116, 12, 5, 27};
const data_set pst = {DATA_SET_PST, "pal_pst.bin", "cmaps_pst_32.bmp", 79, 32, 2, 7};
