// SecureBytes: a fixed-size heap block, zeroed when allocated and wiped before it is freed.
// Holds key schedules and other secrets of the algorithm objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "base/buffer.h"

namespace ombrix {

class SecureBytes {
public:
    SecureBytes() = default;
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;
    ~SecureBytes() { Reset(); }

    // Replaces the block by `size` zero bytes; false (and empty) when memory is lacking.
    bool Allocate(size_t size) {
        Reset();
        data_ = new (std::nothrow) uint8_t[size ? size : 1]();
        if (!data_) return false;
        size_ = size;
        return true;
    }
    void Reset() {
        if (!data_) return;
        SecureZero(data_, size_);
        delete[] data_;
        data_ = nullptr;
        size_ = 0;
    }
    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    bool Empty() const { return data_ == nullptr; }

    template <class T>
    T* As() const { return reinterpret_cast<T*>(data_); }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace ombrix
