#include "CStr.h"

#include "text_util.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <stdexcept>

CStr::CStr() = default;

CStr::CStr(const wchar_t* text) : std::wstring(text) {}

// Copies take the text only: a scratch array belongs to one string.
CStr::CStr(const CStr& other) : std::wstring(other) {}

CStr::CStr(CStr&& other) noexcept : std::wstring(std::move(static_cast<std::wstring&>(other))) {}

CStr& CStr::operator=(const CStr& other)
{
    std::wstring::operator=(other);
    return *this;
}

CStr& CStr::operator=(CStr&& other) noexcept
{
    std::wstring::operator=(std::move(static_cast<std::wstring&>(other)));
    return *this;
}

CStr& CStr::operator=(const wchar_t* text)
{
    std::wstring::operator=(text);
    return *this;
}

CStr::~CStr()
{
    FreeScratch();
}

void CStr::FreeScratch()
{
    delete[] m_pScratch;
    m_pScratch = nullptr;
    m_nScratchSize = 0;
}

wchar_t* CStr::GetBuffer(uint64_t n)
{
    FreeScratch();
    const uint64_t needed = static_cast<uint64_t>(length()) + 1;
    if (n == 0)
        n = needed;
    m_pScratch = new wchar_t[n];
    m_nScratchSize = n;
    // A caller asking for less than the text needs gets the text cut to fit:
    // the copy never runs past the array.
    const uint64_t copy = (n < needed ? n - 1 : needed - 1);
    wmemcpy(m_pScratch, data(), static_cast<size_t>(copy));
    m_pScratch[copy] = L'\0';
    return m_pScratch;
}

void CStr::ReleaseBuffer(uint64_t n)
{
    if (!m_pScratch)
        return;
    // Free the array on every path, also when the assignment throws.
    std::unique_ptr<wchar_t[]> scratch(m_pScratch);
    const uint64_t size = m_nScratchSize;
    m_pScratch = nullptr;
    m_nScratchSize = 0;

    uint64_t take = n;
    if (n == 0) {
        if (!wmemchr(scratch.get(), L'\0', static_cast<size_t>(size)))
            scratch[size - 1] = L'\0';
        take = wcslen(scratch.get());
    } else if (take > size) {
        take = size;
    }
    assign(scratch.get(), static_cast<size_t>(take));
}


int CStr::CompareNoCase(const wchar_t* other) const
{
    if (!other)
        return 1;
    const wchar_t* a = c_str();
    const wchar_t* b = other;
    for (;; ++a, ++b) {
        const int ca = AsciiLower(*a);
        const int cb = AsciiLower(*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

int64_t CStr::FindNoCase(const wchar_t* sub) const
{
    if (!sub)
        return -1;
    CStr text(*this);
    CStr pattern(sub);
    text.MakeLower();
    pattern.MakeLower();
    const size_type pos = text.find(pattern);
    return pos == npos ? -1 : static_cast<int64_t>(pos);
}

void CStr::MakeLower()
{
    wchar_t* p = GetBuffer(0);
    for (wchar_t* q = p; *q; ++q)
        *q = static_cast<wchar_t>(towlower(*q));
    ReleaseBuffer(0);
}

void CStr::MakeUpper()
{
    wchar_t* p = GetBuffer(0);
    for (wchar_t* q = p; *q; ++q)
        *q = static_cast<wchar_t>(towupper(*q));
    ReleaseBuffer(0);
}

CStr CStr::Mid(uint32_t start, uint32_t count) const
{
    if (start > length())
        throw std::out_of_range("invalid string position");
    CStr result;
    static_cast<std::wstring&>(result) = substr(start, count);
    return result;
}

const wchar_t* CStr::Find(const wchar_t* sub) const
{
    if (!sub)
        return nullptr;
    const size_type pos = find(sub);
    return pos == npos ? nullptr : c_str() + pos;
}

void CStr::TrimLeft()
{
    std::wstring copy(c_str());  // a NUL-terminated copy: ends at an embedded NUL
    size_t i = 0;
    while (i < copy.size() && iswspace(copy[i]))
        ++i;
    if (i > 0)
        assign(copy, i, npos);
}

void CStr::TrimRight()
{
    size_type runStart = npos;
    for (size_type i = 0; i < length(); ++i) {
        if (iswspace((*this)[i])) {
            if (runStart == npos)
                runStart = i;
        } else {
            runStart = npos;
        }
    }
    if (runStart != npos)
        erase(runStart);
}
