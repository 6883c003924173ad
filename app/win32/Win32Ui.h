// Small helpers of the native windows: text conversion, the windows' font,
// the program's pictures and twips.
#pragma once

#include <windows.h>

#include <string>

namespace quorvix::win32 {

// Geometry is given in twips; 15 make one pixel at 96 dots per inch.
constexpr int Px(int twips) {
  return twips / 15;
}

// Program texts are UTF-16, as the platform's wide strings are.
inline std::wstring Wide(const std::u16string& s) {
  return std::wstring(s.begin(), s.end());
}
inline std::u16string U16(const wchar_t* s, std::size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}
inline const wchar_t* W(const char16_t* s) {
  return reinterpret_cast<const wchar_t*>(s);
}

// The window's text.
std::u16string WindowText(HWND window);

// "Verdana" 8.25 point, regular or bold, western character set, where the
// face is installed; elsewhere the system's message font at that size.
// Made once; the program never frees them.
HFONT WindowFont(bool bold = false);
// True when the "Verdana" face is installed.
bool HasVerdana();

// Sets the font of the window and of every window inside it.
void SetFontOfTree(HWND window, HFONT font);

// The program's pictures from its resources (made once, kept for the run).
HBITMAP BannerBitmap();
HBITMAP ResourceBitmap(int id);
HICON ProgramIcon(int size);

// The arrow or the hourglass pointer.
HCURSOR SystemCursor(bool hourglass);

// Outer size of a window, frame and title bar included, in pixels.
SIZE OuterSize(HWND window);
// The primary screen's area, in pixels.
RECT ScreenArea();

}  // namespace quorvix::win32
