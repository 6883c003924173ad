// The Windows side of GetNetErrorText: the message text from netmsg.dll and
// the system's message table, through FormatMessageA.
#pragma once

#include <cstdint>
#include <string>

namespace quorvix {

// The message for code, cut at its first NUL and without padding; "" when no
// table has one.
std::u16string GetNetErrorTextWin32(int32_t code);

}  // namespace quorvix
