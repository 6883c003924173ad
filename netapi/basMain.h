// Message text of a network status.
#pragma once

#include <cstdint>
#include <string>

namespace quorvix {

// The message for a status: codes 2100..2999 are looked up in the network
// message table first, then in the system's; all other codes in the system's
// only. The text carries no padding; a code without a message gives "".
std::u16string GetNetErrorText(int32_t code);

}  // namespace quorvix
