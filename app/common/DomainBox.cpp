#include "DomainBox.h"

#include "TerminalText.h"

namespace quorvix {

std::u16string DomainNamed(const std::u16string& text, const std::u16string* picked,
                           const std::u16string& own) {
  if (picked != nullptr && VisibleText(*picked) == text) return *picked;
  if (VisibleText(own) == text) return own;
  return text;
}

}  // namespace quorvix
