#include "basMain.h"

#ifdef _WIN32
#include "basMainWin32.h"
#else
#include "MessageTables.h"
#endif

namespace quorvix {

std::u16string GetNetErrorText(int32_t code) {
#ifdef _WIN32
  return GetNetErrorTextWin32(code);
#else
  return LookUpMessage(code, NetworkMessageTable(), SystemMessageTable());
#endif
}

}  // namespace quorvix
