// Whole screens from an animation record: each frame as a viewer shows it,
// drawn over what the frames before it left, by their disposal methods.
#pragma once

struct gif_anim;

// Milliseconds a frame of this delay (hundredths of a second) shows: 0 and
// 1 count as 10, as viewers play them.
int compute_gif_delay_ms(int delay);

// A new record whose every frame is the whole logical screen at (0, 0):
// the screen as the frames before it left it (index 0 where nothing was
// drawn or a frame was disposed of by 2, as before a frame disposed of by
// 3), with the frame's rectangle over it. The rectangles already hold what
// lies under their transparent pixels, so they are copied whole. Null when
// the bitmaps cannot be made or would take more than the load's budget.
gif_anim *coalesce_gif_anim(const gif_anim *anim);

// True when some frame, shown whole, would show earlier frames' pixels
// outside its own rectangle: a frame smaller than the screen drawn over
// earlier content, which loses that content when shown alone.
bool detect_partial_frames(const gif_anim *anim);
