#include "base/file_context.h"

#include <cstdlib>
#include <mutex>

namespace rv {

namespace {

struct PartOps {
  void* (*make)() = nullptr;
  void* (*copy)(const void*) = nullptr;
  void (*destroy)(void*) = nullptr;
};
std::array<PartOps, FileContext::kMaxParts> g_ops;
std::atomic<size_t> g_parts{0};

std::mutex g_windowMutex;
std::shared_ptr<FileContext>& WindowPtr() {
  static std::shared_ptr<FileContext> w = std::make_shared<FileContext>();
  return w;
}
std::atomic<FileContext*> g_window{nullptr};
thread_local std::shared_ptr<FileContext> t_bound;

}  // namespace

size_t FileContext::Register(MakeFn make, CopyFn copy, DestroyFn destroy) {
  const size_t slot = g_parts.fetch_add(1);
  if (slot >= kMaxParts) std::abort();  // a new kind of part: raise kMaxParts
  g_ops[slot] = {make, copy, destroy};
  return slot;
}

void* FileContext::Install(size_t slot) {
  void* made = g_ops[slot].make();
  void* expected = nullptr;
  // The window and its task may both reach a new part at once: one of them makes it.
  if (parts_[slot].compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  g_ops[slot].destroy(made);
  return expected;
}

FileContext::~FileContext() {
  for (size_t i = 0; i < kMaxParts; ++i)
    if (void* p = parts_[i].load()) g_ops[i].destroy(p);
}

std::unique_ptr<FileContext> FileContext::Copy() const {
  auto c = std::make_unique<FileContext>();
  for (size_t i = 0; i < kMaxParts; ++i)
    if (const void* p = parts_[i].load(std::memory_order_acquire)) c->parts_[i] = g_ops[i].copy(p);
  return c;
}

std::shared_ptr<FileContext> WindowContext() {
  std::lock_guard lock(g_windowMutex);
  return WindowPtr();
}

FileContext& Context() {
  if (t_bound) return *t_bound;
  FileContext* w = g_window.load(std::memory_order_acquire);
  if (!w) {
    std::lock_guard lock(g_windowMutex);
    w = WindowPtr().get();
    g_window.store(w, std::memory_order_release);
  }
  return *w;
}

void BindThreadContext(std::shared_ptr<FileContext> ctx) { t_bound = std::move(ctx); }

void DetachWindowContext() {
  std::lock_guard lock(g_windowMutex);
  std::shared_ptr<FileContext> copy = WindowPtr()->Copy();
  WindowPtr() = copy;
  g_window.store(copy.get(), std::memory_order_release);
}

}  // namespace rv
