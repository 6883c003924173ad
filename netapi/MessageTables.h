// The program's own message tables, standing in for the system's message
// table and the network message module where the platform offers neither.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorvix {

struct MessageText {
  int32_t code;
  const char16_t* text;
};

// Texts of system statuses (and of the few network-range codes the system
// itself describes).
std::span<const MessageText> SystemMessageTable();
// Texts of network management statuses, 2100..2999.
std::span<const MessageText> NetworkMessageTable();

// The lookup rule: a code in 2100..2999 is looked up in the network table
// first, then in the system's; any other code in the system's only. "" when
// neither has it.
std::u16string LookUpMessage(int32_t code, std::span<const MessageText> network,
                             std::span<const MessageText> system);

}  // namespace quorvix
