// The state of the file being worked on: its source handle and read cache, the exclusion
// list, the block table, tree and header records, the index, the bad blocks and the last
// results. Each part lives in a context. The window and the running task share one; a task
// that is killed while blocked keeps the context it ran on, and the window goes on with a
// copy of it. Whatever the abandoned task still does, however late, stays in its own context
// and can never reach the file the user works on next.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>

namespace rv {

class FileContext {
 public:
  FileContext() = default;
  ~FileContext();
  FileContext(const FileContext&) = delete;
  FileContext& operator=(const FileContext&) = delete;

  // This context's part of type T, made on first use. Each part is a type of its own.
  template <class T>
  T& Get() {
    static const size_t slot = Register(&Make<T>, &CopyOf<T>, &Destroy<T>);
    void* p = parts_[slot].load(std::memory_order_acquire);
    if (!p) p = Install(slot);
    return *static_cast<T*>(p);
  }
  // A new context with a copy of every part of this one.
  std::unique_ptr<FileContext> Copy() const;

  static constexpr size_t kMaxParts = 32;

 private:
  using MakeFn = void* (*)();
  using CopyFn = void* (*)(const void*);
  using DestroyFn = void (*)(void*);
  template <class T>
  static void* Make() {
    return new T();
  }
  template <class T>
  static void* CopyOf(const void* p) {
    return new T(*static_cast<const T*>(p));
  }
  template <class T>
  static void Destroy(void* p) {
    delete static_cast<T*>(p);
  }
  static size_t Register(MakeFn make, CopyFn copy, DestroyFn destroy);
  void* Install(size_t slot);

  std::array<std::atomic<void*>, kMaxParts> parts_{};
};

// The context of the calling thread: the one its task was started on, else the window's.
FileContext& Context();
// The window's context, as a task takes it when it starts.
std::shared_ptr<FileContext> WindowContext();
// Binds the calling (worker) thread to ctx for the rest of its life.
void BindThreadContext(std::shared_ptr<FileContext> ctx);
// The window leaves its context to an abandoned task and goes on with a copy of it.
void DetachWindowContext();

}  // namespace rv
