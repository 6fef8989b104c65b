// The tint panel and the gradient strip on the screen image: their drawing
// and which slot or row a screen point falls on.
#pragma once

struct data_set;

// Draws the data set's gradient table into glb_cmap, when it exists.
void draw_gradient_strip(const data_set &set);

// Draws every slot's text line, swatches and, for the selected slot, the
// markers beside the strip into glb_buffer, when it exists. A slot that
// glb_view.used_slots says no pixel uses is drawn dimmed, its "-->" as ever.
void draw_tint_panel(const data_set &set);

// The slot whose panel line (its text and swatches, as high as a swatch)
// holds the screen point (x, y), else -1.
int find_slot_at(const data_set &set, int x, int y);
// The gradient row of the strip at the screen point (x, y), else -1.
int find_strip_row_at(const data_set &set, int x, int y);
