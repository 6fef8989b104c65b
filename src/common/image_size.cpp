#include "common/image_size.h"

#include <cstdint>
#include <cstring>
#include <strings.h>

static long long read_le(const uint8_t *p, int bytes)
{
    unsigned long long v = 0;
    for (int k = bytes - 1; k >= 0; k--)
        v = v << 8 | p[k];
    return (long long)v;
}

static long long read_le32_signed(const uint8_t *p)
{
    return (long long)int32_t(uint32_t(read_le(p, 4)));
}

bool read_image_size(const char *file, const uint8_t *head, size_t got, long long *w,
                     long long *h)
{
    const char *dot = std::strrchr(file, '.');
    if (!dot)
        return false;
    if (strcasecmp(dot, ".bmp") == 0) {
        if (got < 26)
            return false;
        // A 12-byte info header holds 16-bit sizes, the others 32-bit ones.
        // The loader takes a negative (top-down) height as it stands, so
        // that is refused as a bad size too.
        bool os2 = read_le(head + 14, 4) == 12;
        *w = os2 ? read_le(head + 18, 2) : read_le32_signed(head + 18);
        *h = os2 ? read_le(head + 20, 2) : read_le32_signed(head + 22);
        return true;
    }
    if (strcasecmp(dot, ".pcx") == 0) {
        if (got < 12)
            return false;
        *w = read_le(head + 8, 2) - read_le(head + 4, 2) + 1;
        *h = read_le(head + 10, 2) - read_le(head + 6, 2) + 1;
        return true;
    }
    if (strcasecmp(dot, ".tga") == 0) {
        if (got < 16)
            return false;
        *w = read_le(head + 12, 2);
        *h = read_le(head + 14, 2);
        return true;
    }
    return false;
}
