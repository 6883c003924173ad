// The domain box of both windows: it shows the domains' names from the
// network with their hidden characters made visible, while a scan asks for
// the names themselves.
#pragma once

#include <string>

namespace quorvix {

// The domain the box's text names: picked (the entry chosen, if any) or own
// (this machine's domain) when the text is what the box shows for it, else
// the text as typed.
std::u16string DomainNamed(const std::u16string& text, const std::u16string* picked,
                           const std::u16string& own);

}  // namespace quorvix
