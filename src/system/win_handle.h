// The Windows resource holders: every handle, key, module, COM apartment and
// COM allocation the product takes is owned by one of these, each closed on
// exactly one path. Closing keeps the thread's last error as it was.
#pragma once

#include "unique_resource.h"

#include <windows.h>
#include <oleauto.h>

// Saves the thread's last error and puts it back at the end of its scope.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_dwError(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_dwError); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD m_dwError;
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
    using handle_type = HANDLE;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h) { return CloseHandle(h) != FALSE; }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

struct FindHandleTraits {
    using handle_type = HANDLE;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h) { return FindClose(h) != FALSE; }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

struct LocalMemTraits {
    using handle_type = HLOCAL;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return LocalFree(h) == nullptr; }
};
using UniqueLocalMem = UniqueResource<LocalMemTraits>;

// A CryptoAPI provider context and a hash made from it.
struct CryptProvTraits {
    using handle_type = HCRYPTPROV;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return 0; }
    static bool valid(handle_type h) { return h != 0; }
    static bool close(handle_type h) { return CryptReleaseContext(h, 0) != FALSE; }
};
using UniqueCryptProv = UniqueResource<CryptProvTraits>;

struct CryptHashTraits {
    using handle_type = HCRYPTHASH;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return 0; }
    static bool valid(handle_type h) { return h != 0; }
    static bool close(handle_type h) { return CryptDestroyHash(h) != FALSE; }
};
using UniqueCryptHash = UniqueResource<CryptHashTraits>;

// A raw registry key. The framework's registry class is built on this one.
struct HkeyTraits {
    using handle_type = HKEY;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using UniqueHkey = UniqueResource<HkeyTraits>;

// A service control manager or service handle.
struct ScHandleTraits {
    using handle_type = SC_HANDLE;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return CloseServiceHandle(h) != FALSE; }
};
using UniqueScHandle = UniqueResource<ScHandleTraits>;

// A mapped view of a section object.
struct ViewTraits {
    using handle_type = void*;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return UnmapViewOfFile(h) != FALSE; }
};
using UniqueView = UniqueResource<ViewTraits>;

// A loaded library, given back with FreeLibrary (not for GetModuleHandle).
struct ModuleTraits {
    using handle_type = HMODULE;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type h) { return h != nullptr; }
    static bool close(handle_type h) { return FreeLibrary(h) != FALSE; }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct BstrTraits {
    using handle_type = BSTR;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type b) { return b != nullptr; }
    static bool close(handle_type b)
    {
        SysFreeString(b);
        return true;
    }
};
using UniqueBstr = UniqueResource<BstrTraits>;

// A VARIANT cleared on every path.
struct UniqueVariant : VARIANT {
    UniqueVariant() { VariantInit(this); }
    ~UniqueVariant()
    {
        LastErrorKeeper keep;
        VariantClear(this);
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
};

// COM for the calling thread: initialised by Enter, undone once at the end of
// the scope when (and only when) Enter succeeded.
class ComApartment {
public:
    ComApartment() = default;
    ~ComApartment() { Leave(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT Enter(DWORD model)
    {
        Leave();
        const HRESULT hr = CoInitializeEx(nullptr, model);
        m_bEntered = SUCCEEDED(hr);
        return hr;
    }
    void Leave()
    {
        if (m_bEntered) {
            LastErrorKeeper keep;
            CoUninitialize();
            m_bEntered = false;
        }
    }
    bool Entered() const { return m_bEntered; }

private:
    bool m_bEntered = false;
};

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
            LastErrorKeeper keep;
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};
