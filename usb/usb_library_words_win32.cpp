// The USB library's binding in words, for the programs' messages and logs.
#include <string>

#include "usb/usb_library_win32.h"

namespace {

#ifdef _WIN64
constexpr WORD PROGRAM_MACHINE = IMAGE_FILE_MACHINE_AMD64;
constexpr const char* PROGRAM_KIND = "a 64-bit program needs the 64-bit library";
#else
constexpr WORD PROGRAM_MACHINE = IMAGE_FILE_MACHINE_I386;
constexpr const char* PROGRAM_KIND = "a 32-bit program needs the 32-bit library";
#endif

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Windows' words for `error`, without the line end, "%1" read as the
// library's name; and its number.
std::string ErrorWords(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring words = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    for (size_t at = words.find(L"%1"); at != std::wstring::npos; at = words.find(L"%1"))
        words.replace(at, 2, L"SiUSBXp.dll");
    const std::string number = "Windows error " + std::to_string(error);
    return words.empty() ? number : Utf8(words) + " (" + number + ")";
}

}  // namespace

std::string UsbLibraryProblemWords(const UsbLibraryProblem& problem, const char* programFile) {
    switch (problem.fault) {
        case UsbLibraryFault::NotFound: {
            std::string line = "SiUSBXp.dll was not found";
            if (!problem.searched[0].empty()) {
                line += ": looked for " + Utf8(problem.searched[0]);
                if (!problem.searched[1].empty()) line += " and " + Utf8(problem.searched[1]);
            }
            return line + "; put the library beside " + programFile;
        }
        case UsbLibraryFault::NotLoadable: {
            std::string line = Utf8(problem.path) + " could not be loaded: " + ErrorWords(problem.error);
            if (problem.machine != 0 && problem.machine != PROGRAM_MACHINE) line += "; " + std::string(PROGRAM_KIND);
            return line;
        }
        case UsbLibraryFault::OrdinalMissing:
            return (problem.path.empty() ? std::string("SiUSBXp.dll") : Utf8(problem.path)) + " lacks ordinal " +
                   std::to_string(problem.ordinal) + ": it is not the USB library this program is made for";
        case UsbLibraryFault::None: break;
    }
    return "SiUSBXp.dll could not be bound";
}

std::string BoundUsbLibraryPath() { return Utf8(BoundUsbLibraryFile()); }
