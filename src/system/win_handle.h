// Small RAII holders for Windows handles: every handle the product opens is
// owned by one of these, so each is closed on exactly one path.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using handle_type = typename Traits::handle_type;

    UniqueHandle() = default;
    explicit UniqueHandle(handle_type h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept
    {
        reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    handle_type get() const { return m_h; }
    bool valid() const { return Traits::valid(m_h); }
    explicit operator bool() const { return valid(); }

    handle_type release()
    {
        return std::exchange(m_h, Traits::invalid());
    }
    // Closes the held handle; true when there was none or it closed cleanly.
    bool reset(handle_type h = Traits::invalid())
    {
        bool ok = true;
        if (Traits::valid(m_h))
            ok = Traits::close(m_h);
        m_h = h;
        return ok;
    }
    // For APIs that return a handle through an out pointer.
    handle_type* put()
    {
        reset();
        return &m_h;
    }

private:
    handle_type m_h = Traits::invalid();
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
    using handle_type = HANDLE;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h) { return CloseHandle(h) != FALSE; }
};
using Handle = UniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
    using handle_type = HANDLE;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h) { return FindClose(h) != FALSE; }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

struct LocalMemTraits {
    using handle_type = HLOCAL;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return LocalFree(h) == nullptr; }
};
using LocalMem = UniqueHandle<LocalMemTraits>;

struct RegKeyTraits {
    using handle_type = HKEY;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using RegKey = UniqueHandle<RegKeyTraits>;

// A COM interface pointer holding one reference.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** put()
    {
        reset();
        return &m_p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset()
    {
        if (m_p) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};
