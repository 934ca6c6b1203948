// An owned Win32 file handle, closed when the holder goes away.
#pragma once

#include <windows.h>

#include <utility>

namespace ombrix {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~FileHandle() { Reset(); }

    bool Ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }
    // Closes the held handle (if any) and takes `handle` instead.
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (Ok()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace ombrix
