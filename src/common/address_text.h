// Pointer formatting for the trace lines.
#pragma once

#include <string>

// Zero-padded upper-case hex digits of an address, no prefix
// (16 digits on a 64-bit machine).
std::string format_address(const void *address);
