// The one pure piece of the Win32 adapter list, declared apart so that tests
// of the Windows build can reach it. Includes no Windows header.
#pragma once

#include <cstddef>

// Converts a UTF-16 friendly name into narrow text the way the C locale
// does: each code unit up to 255 becomes the byte of the same value, the
// text ends before the first code unit above 255, and it is cut to cap - 1
// bytes. Always terminates (cap > 0).
void win32_narrow_friendly_name(const wchar_t* wide, char* out, std::size_t cap);
