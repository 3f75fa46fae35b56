// GoogleTest's hook for platform customisation, used by the Windows test
// build. MinGW's win32 thread model has no std::mutex, which GoogleTest's
// own Notification needs; this one is a Win32 event instead. Everything else
// of GoogleTest's Windows support is kept.
#ifndef LUMARIS_GTEST_CUSTOM_PORT_H_
#define LUMARIS_GTEST_CUSTOM_PORT_H_

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
   public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

   private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif  // LUMARIS_GTEST_CUSTOM_PORT_H_
