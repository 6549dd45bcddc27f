// SPDX-License-Identifier: MIT
// ScopedGeneric<T, Traits>: sole ownership of one resource that is released by
// a free function: a file descriptor, a kernel HANDLE, a LocalAlloc block, a
// GObject reference. Traits says what "no resource" is and how to free one:
//
//   struct Traits {
//       static T invalidValue();      // held by an empty ScopedGeneric
//       static void free(T value);    // called once for every other value
//   };
//
// Move-only; the value is freed when the holder goes, is reset, or is
// assigned another. release() hands it back to the caller unfreed.
#pragma once

#include <utility>

namespace mb {

template <typename T, typename Traits>
class ScopedGeneric {
  public:
    using element_type = T;
    using traits_type = Traits;

    ScopedGeneric() noexcept : value_(Traits::invalidValue()) {}
    explicit ScopedGeneric(T value) noexcept : value_(value) {}
    ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.release()) {}
    ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ScopedGeneric(const ScopedGeneric&) = delete;
    ScopedGeneric& operator=(const ScopedGeneric&) = delete;
    ~ScopedGeneric() { reset(); }

    // Frees what is held (if anything) and takes value instead.
    void reset(T value = Traits::invalidValue()) noexcept {
        T old = std::exchange(value_, value);
        if (old != Traits::invalidValue()) {
            Traits::free(old);
        }
    }

    [[nodiscard]] T release() noexcept { return std::exchange(value_, Traits::invalidValue()); }

    T get() const noexcept { return value_; }
    bool isValid() const noexcept { return value_ != Traits::invalidValue(); }
    explicit operator bool() const noexcept { return isValid(); }

  private:
    T value_;
};

}  // namespace mb
