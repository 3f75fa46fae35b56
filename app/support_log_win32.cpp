#include "app/support_log_win32.h"

#include <shlobj.h>
#include <windows.h>

namespace {

// The folder the log gets in the user's local application data.
constexpr wchar_t LOG_FOLDER_NAME[] = L"Lumaris Update";

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file where the folder should be is left alone: no log then.
bool MakeFolder(const std::string& folder) {
    const std::wstring path = Wide(folder);
    if (path.empty()) return false;
    return CreateDirectoryW(path.c_str(), nullptr) || IsFolder(path);
}

// A folder counts as there, 0 bytes long: nothing is moved over it.
int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool MoveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

std::string SupportLogFolderOfUser() {
    PWSTR base = nullptr;
    // The folder is named even when it does not exist yet; it is not made.
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, nullptr, &base);
    std::wstring folder;
    if (SUCCEEDED(found) && base && *base) folder = std::wstring(base) + L"\\" + LOG_FOLDER_NAME;
    CoTaskMemFree(base);
    return Utf8(folder);
}

const SupportLogFileSystem WIN32_SUPPORT_LOG_FILE_SYSTEM = {
    .makeFolder = MakeFolder,
    .fileSize = FileSize,
    .moveReplacing = MoveReplacing,
};
