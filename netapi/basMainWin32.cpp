#include <windows.h>

#include <array>
#include <cstdarg>

#include "basMainWin32.h"

namespace quorvix {

namespace {

constexpr int32_t kFirstNetCode = 2100;  // NERR_BASE
constexpr int32_t kLastNetCode = 2999;   // MAX_NERR
constexpr ::DWORD kMessageBytes = 256;

// Insert values for messages that have placeholders (%1 ... %99): all zero,
// read as a null string or the number 0. FormatMessageA reads them through a
// va_list, which under this compiler is a plain pointer to the argument
// slots; enough slots for every placeholder a message can name keep a
// message with inserts from reading beyond them.
constexpr std::size_t kInsertSlots = 128;

}  // namespace

std::u16string GetNetErrorTextWin32(int32_t code) {
  ::DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE module = nullptr;
  if (code >= kFirstNetCode && code <= kLastNetCode) {
    // Mapped for its message table only; no code of it runs.
    module = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }

  std::array<char, kMessageBytes> message;
  message.fill(' ');
  std::array<::DWORD_PTR, kInsertSlots> inserts{};
  static_assert(sizeof(va_list) == sizeof(char*), "va_list is expected to be a pointer here");
  va_list arguments = reinterpret_cast<va_list>(inserts.data());
  const ::DWORD written = FormatMessageA(flags, module, static_cast<::DWORD>(code), 0,
                                         message.data(), kMessageBytes, &arguments);
  if (module != nullptr) FreeLibrary(module);

  // Nothing found (or a message too long for the buffer): the buffer holds
  // no message, and the text is empty.
  if (written == 0) return {};

  // The message ends at its first NUL; the rest of the buffer is padding.
  int bytes = 0;
  while (bytes < static_cast<int>(kMessageBytes) && message[bytes] != '\0') ++bytes;
  std::array<wchar_t, kMessageBytes> wide{};
  const int units = MultiByteToWideChar(CP_ACP, 0, message.data(), bytes, wide.data(),
                                        static_cast<int>(wide.size()));
  std::u16string text(wide.begin(), wide.begin() + units);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n'))
    text.pop_back();
  return text;
}

}  // namespace quorvix
