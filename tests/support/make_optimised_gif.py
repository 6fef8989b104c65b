"""Writes an optimised animated GIF the way sprite editors save them, with
PIL: after the first, each frame only the rectangle that changed, index 0
transparent and the background, and disposals 1 and 2 mixed.

usage: make_optimised_gif.py OUT.gif
"""
import sys

from PIL import Image

W = 48
H = 32
# Colours of the first data set's palette, so that the program can export
# it: 0 magenta (transparent), then a body, eyes, a spark and a shadow colour.
PALETTE = [255, 0, 255, 40, 89, 222, 246, 244, 232, 15, 16, 36, 26, 29, 59]


def fill(image, x0, y0, x1, y1, index):
    for y in range(y0, y1):
        for x in range(x0, x1):
            image.putpixel((x, y), index)


def draw_frame(i):
    image = Image.new("P", (W, H), 0)
    image.putpalette(PALETTE + [0] * (768 - len(PALETTE)))
    fill(image, 8, 6, 40, 28, 1)
    if i % 3 != 1:  # the eyes blink on every third frame
        fill(image, 14, 10, 18, 14, 2)
        fill(image, 30, 10, 34, 14, 2)
    fill(image, 2 + 6 * i, 1, 6 + 6 * i, 4, 3)  # a spark crossing the top
    fill(image, 12, 24 + i % 2, 36, 26 + i % 2, 4)
    fill(image, 20 + i, 16, 22 + i, 18, 0)  # a hole the screen shows through
    return image


def main():
    frames = [draw_frame(i) for i in range(6)]
    frames[0].save(sys.argv[1], format="GIF", save_all=True, append_images=frames[1:],
                   duration=[120, 80, 80, 200, 60, 100], loop=0, disposal=[1, 1, 2, 1, 2, 1],
                   transparency=0, background=0, optimize=False)


if __name__ == "__main__":
    main()
