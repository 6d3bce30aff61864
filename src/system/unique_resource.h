// The one shape of every resource holder in the product: a traits type says
// what "none" is and how to give the resource back, and the holder gives it
// back on exactly one path. Standard C++ only, so the pure parsers use it too;
// the Windows holders are in win_handle.h.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <utility>

// Traits whose closing cannot disturb anything a caller reads afterwards.
struct NothingToKeep {};

template <typename Traits>
class UniqueResource {
public:
    using handle_type = typename Traits::handle_type;

    UniqueResource() = default;
    explicit UniqueResource(handle_type h) : m_h(h) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& o) noexcept : m_h(o.release()) {}
    UniqueResource& operator=(UniqueResource&& o) noexcept
    {
        reset(o.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    handle_type get() const { return m_h; }
    bool valid() const { return Traits::valid(m_h); }
    explicit operator bool() const { return valid(); }

    handle_type release() { return std::exchange(m_h, Traits::invalid()); }

    // Gives the held resource back; true when there was none or it went back
    // cleanly. Whatever the traits name as their keeper (the thread's last
    // error for Windows handles) is the same afterwards as before, so a
    // holder closing on an error path never hides the error being reported.
    // Handed the resource it already holds, it keeps it open: closing it
    // would leave the holder owning a closed handle.
    bool reset(handle_type h = Traits::invalid())
    {
        if (h == m_h)
            return true;
        bool ok = true;
        if (Traits::valid(m_h)) {
            typename Traits::keeper keep;
            (void)keep;
            ok = Traits::close(m_h);
        }
        m_h = h;
        return ok;
    }

    // For APIs that hand a resource back through an out pointer.
    handle_type* put()
    {
        reset();
        return &m_h;
    }

private:
    handle_type m_h = Traits::invalid();
};

// A C runtime stream. reset() answers whether fclose flushed everything, so
// a writer can tell a full disk from success.
struct StdFileTraits {
    using handle_type = std::FILE*;
    using keeper = NothingToKeep;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type f) { return f != nullptr; }
    static bool close(handle_type f) { return std::fclose(f) == 0; }
};
using UniqueFile = UniqueResource<StdFileTraits>;

// A wide string the C runtime allocated for its caller (_wtempnam, _wcsdup).
struct CrtWideStringTraits {
    using handle_type = wchar_t*;
    using keeper = NothingToKeep;
    static handle_type invalid() { return nullptr; }
    static bool valid(handle_type p) { return p != nullptr; }
    static bool close(handle_type p)
    {
        std::free(p);
        return true;
    }
};
using UniqueCrtWideString = UniqueResource<CrtWideStringTraits>;
