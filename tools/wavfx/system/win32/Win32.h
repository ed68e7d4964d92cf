// What wavfx's Windows parts share: names between UTF-8 and UTF-16, and the system's words for an error.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "system/Names.h"

namespace wavfx::sys {

inline std::wstring Wide(const std::string& utf8) {
    const auto utf16 = ToUtf16(utf8);
    return std::wstring(utf16.begin(), utf16.end());
}

inline std::string Utf8(const wchar_t* wide) {
    std::string out;
    FromUtf16(std::u16string(wide, wide + wcslen(wide)), out);
    return out;
}

inline std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text != nullptr ? Utf8(text) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

// A Win32 call failed: LastError tells its GetLastError() from now on, through an
// errno no C runtime call sets, so that a later C runtime failure still wins.
constexpr int Win32Errno = 0x7E57;
inline thread_local DWORD lastWin32Error = 0;
inline void NoteWin32Error() {
    lastWin32Error = GetLastError();
    errno = Win32Errno;
}

inline std::string Folder(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace wavfx::sys
