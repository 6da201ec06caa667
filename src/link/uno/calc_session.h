// Inside of the Calc link: the connection to one office (bridge, desktop,
// watchdog of calls, event queue) and the translation of UNO failures into
// LinkError. Private to src/link/uno.
#pragma once

#include <atomic>
#include <chrono>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "link/uno/calc_application.h"

namespace tersolv::link::uno {

namespace css = ::com::sun::star;
using css::uno::Reference;
using rtl::OUString;

OUString ToOUString(const std::string& text);
std::string ToUtf8(const OUString& text);

// The process's UNO runtime, bootstrapped once from the office's own
// installation (without URE_BOOTSTRAP the first office call crashes).
Reference<css::uno::XComponentContext> LocalContext();

// A change handler of one worksheet; queued events hold it weakly, so that
// events of a removed handler are dropped.
struct HandlerSlot {
  std::function<void(const CellRange&)> Handler;
};

// Change notifications between the UNO thread that receives them and the
// caller's thread that delivers them.
class EventHub {
 public:
  // UNO thread: queues one change if delivery is on.
  void Post(const std::weak_ptr<HandlerSlot>& slot, const CellRange& range);
  // Caller's thread: delivers what is queued; returns the count.
  int Deliver();
  void SetEnabled(bool enabled);
  bool Enabled() const;
  void SetWakeup(std::function<void()> wakeup);

 private:
  struct Pending {
    std::weak_ptr<HandlerSlot> Slot;
    CellRange Range;
  };
  mutable std::mutex mutex_;
  bool enabled_ = true;
  std::deque<Pending> queue_;
  std::function<void()> wakeup_;
};

class CalcSession {
 public:
  explicit CalcSession(const CalcOptions& options);
  ~CalcSession();
  CalcSession(const CalcSession&) = delete;
  CalcSession& operator=(const CalcSession&) = delete;

  // Runs `call` against the office: at most `timeout` long (then the
  // connection is cut), UNO exceptions turned into LinkError. `what` names
  // the operation in messages.
  template <class F>
  auto Call(const char* what, F&& call, std::chrono::milliseconds timeout) -> decltype(call());
  template <class F>
  auto Call(const char* what, F&& call) -> decltype(call()) {
    return Call(what, std::forward<F>(call), options_.CallTimeout);
  }

  const CalcOptions& Options() const { return options_; }
  const std::string& Pipe() const { return pipe_; }
  long StartedPid() const { return startedPid_; }
  const Reference<css::frame::XDesktop2>& Desktop() const { return desktop_; }
  const Reference<css::uno::XComponentContext>& Remote() const { return remote_; }
  EventHub& Events() { return *events_; }
  const std::shared_ptr<EventHub>& EventsPtr() const { return events_; }
  bool Gone() const { return gone_.load(); }
  void MarkGone() { gone_ = true; }

  // The workbook made active by this link last (may be closed meanwhile).
  Reference<css::frame::XModel> LastActivated;
  bool Visible = true;

 private:
  bool TryConnect();
  void StartOffice();
  void Watch();
  void CutConnection();
  [[noreturn]] void ThrowTranslated(const char* what, int number, const OUString& message);
  [[noreturn]] void Translate(const char* what);  // from inside a catch block
  bool Answers();                                 // one round trip to the office

  CalcOptions options_;
  std::string pipe_;
  long startedPid_ = 0;
  Reference<css::uno::XComponentContext> local_;
  Reference<css::connection::XConnection> connection_;
  Reference<css::bridge::XBridge> bridge_;
  Reference<css::uno::XComponentContext> remote_;
  Reference<css::frame::XDesktop2> desktop_;
  std::shared_ptr<EventHub> events_ = std::make_shared<EventHub>();

  // Watchdog of calls: the deadline of the call in progress (steady clock,
  // nanoseconds; 0 when none), checked by a thread of its own.
  std::atomic<long long> deadline_{0};
  std::atomic<bool> gone_{false}, timedOut_{false};
  std::mutex watchMutex_;
  std::condition_variable watchWake_;
  bool stopWatch_ = false;
  std::mutex connectionMutex_;  // guards connection_ / bridge_ against the watchdog
  std::thread watchdog_;
};

// The session behind an application (for the tests of this backend).
CalcSession& SessionOf(CalcApplication& app);

template <class F>
auto CalcSession::Call(const char* what, F&& call, std::chrono::milliseconds timeout) -> decltype(call()) {
  if (gone_) ThrowTranslated(what, kApplicationGone, OUString());
  const long long previous = deadline_.load();
  const long long deadline = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch() + timeout)
                                 .count();
  if (previous == 0 || deadline < previous) deadline_ = deadline;
  struct Restore {
    std::atomic<long long>& slot;
    long long value;
    ~Restore() { slot = value; }
  } restore{deadline_, previous};
  try {
    return call();
  } catch (const css::uno::Exception&) {
    Translate(what);
  }
}

}  // namespace tersolv::link::uno
