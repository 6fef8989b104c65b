#include "common/address_text.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

std::string format_address(const void *address)
{
    char text[2 * sizeof(uintptr_t) + 1];
    std::snprintf(text, sizeof text, "%0*" PRIXPTR, int(2 * sizeof(uintptr_t)),
                  reinterpret_cast<uintptr_t>(address));
    return text;
}
