// GoogleTest's own customisation point, taking the place of the empty one in
// its sources for the Windows build. mingw-w64's win32 thread model has no
// std::mutex or std::condition_variable, which GoogleTest's Notification
// (a helper for its own threading tests) is written with; this one waits on
// an atomic flag instead. Everything else in GoogleTest's Windows port uses
// Win32 primitives and is left as it is.
#ifndef ZENTAVO_GTEST_CUSTOM_PORT_H_
#define ZENTAVO_GTEST_CUSTOM_PORT_H_

#include <atomic>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#define GTEST_HAS_NOTIFICATION_ 1

#endif  // ZENTAVO_GTEST_CUSTOM_PORT_H_
