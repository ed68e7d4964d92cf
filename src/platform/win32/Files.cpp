#include "Files.h"

#include <io.h>
#include <windows.h>

namespace velorik::platform {

bool Utf16ToNarrow(const VwdChar16* name, char* out, std::size_t capacity) noexcept {
    out[0] = '\0';
    BOOL usedDefault = FALSE;
    // No best fit: a character the code page lacks must not turn into a look-alike
    // name that may be another, existing file.
    const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, out,
                                            static_cast<int>(capacity), nullptr, &usedDefault);
    if (written <= 0 || usedDefault) {
        out[0] = '\0';
        return false;
    }
    return true;
}

std::FILE* OpenForReading(const char* narrowName) noexcept {
    const DWORD attributes = GetFileAttributesA(narrowName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return std::fopen(narrowName, "rb");
}

std::FILE* OpenForWriting(const char* narrowName) noexcept { return std::fopen(narrowName, "wb"); }

std::FILE* OpenUtf16ForWriting(const VwdChar16* name) noexcept { return _wfopen(name, L"wb"); }

bool IsSameFile(std::FILE* open, const char* narrowName) noexcept {
    const HANDLE opened = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(open)));
    const HANDLE named = CreateFileA(narrowName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(opened, &a) && GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

bool CutFile(std::FILE* stream, std::uint64_t size) noexcept {
    if (std::fflush(stream) != 0) return false;
    return _chsize_s(_fileno(stream), static_cast<long long>(size)) == 0;
}

}  // namespace velorik::platform
