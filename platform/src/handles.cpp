#include <winsim/handles.h>

#include <map>
#include <mutex>

namespace winsim {
namespace {

struct Table {
  std::mutex mutex;
  std::map<uintptr_t, std::shared_ptr<HandleObject>> objects;
  uintptr_t next = 4;
};

Table& Handles() {
  // Never destroyed: handles may still be closed by static destructors at exit.
  static Table* table = new Table;
  return *table;
}

}  // namespace

uintptr_t AddHandle(std::shared_ptr<HandleObject> object) {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return value;
}

std::shared_ptr<HandleObject> FindHandle(uintptr_t value) {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(value);
  return it == t.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(uintptr_t value) {
  std::shared_ptr<HandleObject> doomed;  // released outside the lock
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(value);
  if (it == t.objects.end()) return false;
  doomed = std::move(it->second);
  t.objects.erase(it);
  return true;
}

std::vector<OpenHandle> OpenHandles() {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  std::vector<OpenHandle> out;
  for (auto& [value, object] : t.objects) out.push_back({value, object->Describe()});
  return out;
}

void DropAllHandles() {
  std::map<uintptr_t, std::shared_ptr<HandleObject>> doomed;
  Table& t = Handles();
  {
    std::lock_guard lock(t.mutex);
    doomed.swap(t.objects);
  }
}

}  // namespace winsim
