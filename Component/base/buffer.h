// The growable byte container: a window [read offset, end offset) over one heap array.
// Appends go to the end, reads consume from the front; the array is wiped when destroyed.
#pragma once

#include <cstdint>

namespace ombrix {

class _Buffer {
public:
    virtual ~_Buffer() = default;
};

class Buffer : public _Buffer {
public:
    static constexpr uint32_t kInitialCapacity = 4096;
    static constexpr uint32_t kGrowthSlack = 32768;
    static constexpr uint32_t kMaxStringLength = 262144;

    Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() override;

    // Both offsets to 0; the array is neither wiped nor shrunk.
    void Clear() { read_ = end_ = 0; }

    // Reserves n bytes at the end and returns where they start, or nullptr when the array
    // cannot grow (the buffer is then unchanged).
    uint8_t* AppendSpace(uint32_t n);
    // Appends n bytes and keeps a zero byte just past the content. False when out of memory.
    bool Append(const void* bytes, uint32_t n);

    uint32_t Length() const { return end_ - read_; }
    uint8_t* Data() { return array_ + read_; }
    const uint8_t* Data() const { return array_ + read_; }

    void Consume(uint32_t n) { if (n <= Length()) read_ += n; }
    void ConsumeEnd(uint32_t n) { if (n <= Length()) end_ -= n; }
    // Copies n bytes from the front and consumes them; false (nothing done) if fewer remain.
    bool GetBytes(void* destination, uint32_t n);
    uint8_t GetChar();
    uint32_t GetInt();
    // A length-prefixed string: a new array of length + 1 bytes (zero-terminated) that the
    // caller frees with delete[], or nullptr when the length exceeds 256 KiB or the bytes.
    uint8_t* GetString(uint32_t* length);
    // The next line without its LF or CR LF ending, zero-terminated inside the array, or
    // nullptr when no complete line is buffered.
    char* GetLine();

    bool PutChar(uint8_t value) { return Append(&value, 1); }
    bool PutInt(uint32_t value);
    bool PutString(const void* bytes, uint32_t n);
    bool PutCString(const char* text);

    // Direct access for owners that manage the window themselves (the memory blob).
    uint32_t Capacity() const { return capacity_; }
    uint32_t ReadOffset() const { return read_; }
    uint32_t EndOffset() const { return end_; }
    void SetReadOffset(uint32_t offset) { read_ = offset; }
    void SetEndOffset(uint32_t offset) { end_ = offset; }
    const uint8_t* Array() const { return array_; }

private:
    uint32_t capacity_;
    uint8_t* array_;
    uint32_t read_ = 0;
    uint32_t end_ = 0;
};

// Overwrites memory with zeros in a way the compiler does not drop.
void SecureZero(void* memory, uint64_t size);

}  // namespace ombrix
