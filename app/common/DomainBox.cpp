#include "DomainBox.h"

#include <exception>

#include "TerminalText.h"
#include "classNetAPI.h"

namespace quorvix {

std::u16string DomainNamed(const std::u16string& text, const std::u16string* picked,
                           const std::u16string& own) {
  if (picked != nullptr && VisibleText(*picked) == text) return *picked;
  if (VisibleText(own) == text) return own;
  return text;
}

DomainList AskDomains(NetApi& api) {
  DomainList list;
  try {
    classNetAPI net(api);
    net.fnGetDomainName(list.own);
    // Sized by the call only when it succeeds.
    net.fnNetServerEnum(list.own, static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), list.domains, false);
  } catch (const std::exception&) {
    list.domains.clear();  // no memory: the box stays empty
  }
  return list;
}

}  // namespace quorvix
