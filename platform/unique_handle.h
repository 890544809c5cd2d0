// Ownership of the system's opaque handles (libraries, mutexes, pipes): one owner, closed
// by the matching platform call when the owner goes away, moved but never copied.
#pragma once
#include <utility>

namespace plat {

template <void (*Close)(void*)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(void* handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    void* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // Gives the handle up without closing it.
    void* release() { return std::exchange(m_handle, nullptr); }
    void reset(void* handle = nullptr) {
        if (m_handle) Close(m_handle);
        m_handle = handle;
    }

private:
    void* m_handle = nullptr;
};

}  // namespace plat
