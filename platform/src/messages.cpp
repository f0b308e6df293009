// Message queues, one per thread of this process. A thread gets its queue on its first message
// call (or window) and loses it when it ends; only then can messages be posted to it.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include "failure.h"
#include "thread_queue.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace winsim {
namespace {

struct Queue {
  std::mutex mutex;
  std::deque<MSG> messages;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
};

Registry& Queues() {
  // Never destroyed: threads may still end after static destruction has begun.
  static Registry* registry = new Registry;
  return *registry;
}

class ThreadQueue {
 public:
  ThreadQueue() : thread_(GetCurrentThreadId()), queue_(std::make_shared<Queue>()) {
    Registry& r = Queues();
    std::lock_guard lock(r.mutex);
    r.queues[thread_] = queue_;
  }
  ~ThreadQueue() {
    Registry& r = Queues();
    std::lock_guard lock(r.mutex);
    auto it = r.queues.find(thread_);
    if (it != r.queues.end() && it->second == queue_) r.queues.erase(it);
  }
  Queue& Get() { return *queue_; }

 private:
  DWORD thread_;
  std::shared_ptr<Queue> queue_;
};

Queue& OwnQueue() {
  thread_local ThreadQueue queue;
  return queue.Get();
}

std::shared_ptr<Queue> QueueOf(DWORD thread) {
  Registry& r = Queues();
  std::lock_guard lock(r.mutex);
  auto it = r.queues.find(thread);
  return it == r.queues.end() ? nullptr : it->second;
}

// Milliseconds since the host started, as the tick count of a posted message.
DWORD Now() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void Post(Queue& queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(queue.mutex);
  queue.messages.push_back(MSG{window, message, wParam, lParam, Now(), POINT{0, 0}});
}

bool Matches(const MSG& msg, HWND window, UINT first, UINT last) {
  if (window && msg.hwnd != window) return false;
  return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

}  // namespace

void MakeThreadQueue() { OwnQueue(); }

}  // namespace winsim

extern "C" BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  winsim::Call call("PeekMessageA", static_cast<const void*>(lpMsg), hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!lpMsg) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  winsim::Queue& queue = winsim::OwnQueue();
  std::lock_guard lock(queue.mutex);
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (!winsim::Matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
    *lpMsg = *it;
    if (wRemoveMsg & PM_REMOVE) queue.messages.erase(it);
    return call.Return(TRUE);
  }
  return call.Return(FALSE);
}

// No key strokes reach the machine's queues, so there is never a character message to make.
extern "C" BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  winsim::Call call("TranslateMessage", static_cast<const void*>(lpMsg));
  return call.Return(FALSE);
}

// The machine's windows have no window procedures: a message for a window, like a thread
// message, is consumed here and answered 0.
extern "C" LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  winsim::Call call("DispatchMessageA", static_cast<const void*>(lpMsg));
  return call.Return(static_cast<LRESULT>(0));
}

extern "C" BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  winsim::Call call("PostThreadMessageA", idThread, Msg, wParam, lParam);
  if (call.Faulted()) return call.Fail(FALSE);
  auto queue = winsim::QueueOf(idThread);
  if (!queue) return call.Fail(FALSE, ERROR_INVALID_THREAD_ID);
  winsim::Post(*queue, nullptr, Msg, wParam, lParam);
  return call.Return(TRUE);
}

extern "C" BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  winsim::Call call("PostMessageA", hWnd, Msg, wParam, lParam);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!hWnd) {
    winsim::Post(winsim::OwnQueue(), nullptr, Msg, wParam, lParam);
    return call.Return(TRUE);
  }
  try {
    auto window = winsim::LiveWindow(hWnd);
    if (!window) return call.Fail(FALSE, ERROR_INVALID_WINDOW_HANDLE);
    // Windows of other processes and of the machine have no queue that a program here reads:
    // the message is accepted and goes nowhere. So does one whose creating thread has ended.
    if (window->pid != winsim::SelfProcessId().pid) return call.Return(TRUE);
    if (auto queue = winsim::QueueOf(window->thread)) winsim::Post(*queue, hWnd, Msg, wParam, lParam);
    return call.Return(TRUE);
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
}
