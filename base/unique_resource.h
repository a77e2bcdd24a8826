// One owner for any handle that must be released exactly once: descriptors, stdio files and the
// like, each described by a small traits type.
#pragma once

#include <utility>

// Traits give the handle type, the value that means "none" and how to release a handle:
//   struct Traits { using Handle = ...; static Handle Invalid(); static int Release(Handle); };
// Release returns what the underlying call returns (0 on success).
template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(handle) {}
  ~UniqueResource() { Close(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Invalid(); }
  // Takes `handle` in place of the one held, which is released.
  void Reset(Handle handle) {
    Close();
    handle_ = handle;
  }
  // Gives the handle up without releasing it.
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
  // Releases now; the result of the release call, 0 when nothing was held.
  int Close() {
    if (!valid()) return 0;
    return Traits::Release(Release());
  }

 private:
  Handle handle_ = Traits::Invalid();
};
