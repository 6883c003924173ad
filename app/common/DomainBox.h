// The domain box of both windows: it shows the domains' names from the
// network with their hidden characters made visible, while a scan asks for
// the names themselves.
#pragma once

#include <string>
#include <vector>

#include "NetApi.h"

namespace quorvix {

// The domain the box's text names: picked (the entry chosen, if any) or own
// (this machine's domain) when the text is what the box shows for it, else
// the text as typed.
std::u16string DomainNamed(const std::u16string& text, const std::u16string* picked,
                           const std::u16string& own);

// What the box is filled with at loading: this machine's domain, then the
// domains visible from it as the enumeration gives them (from index 1;
// empty when it failed, or when memory ran out). Takes as long as the
// network does: the windows ask it on a thread of its own.
struct DomainList {
  std::u16string own;
  std::vector<std::u16string> domains;
};
DomainList AskDomains(NetApi& api);

}  // namespace quorvix
