// The framework's text type: a UTF-16 std::wstring plus a scratch array that
// Windows and C runtime calls can fill in place (GetBuffer / ReleaseBuffer).
#pragma once

#include <cstdint>
#include <string>

class CStr : public std::wstring {
public:
    CStr();
    CStr(const wchar_t* text);
    CStr(const CStr& other);
    CStr(CStr&& other) noexcept;
    CStr& operator=(const CStr& other);
    CStr& operator=(CStr&& other) noexcept;
    CStr& operator=(const wchar_t* text);
    virtual ~CStr();

    const wchar_t* GetString() const { return c_str(); }

    // Hands out a writable array of n elements (0: length + 1) holding the
    // text; any array still outstanding is freed first.
    wchar_t* GetBuffer(uint64_t n);
    // Takes the array's text back (n = 0: up to its NUL, else n characters)
    // and frees the array.
    void ReleaseBuffer(uint64_t n);

    int CompareNoCase(const wchar_t* other) const;
    int64_t FindNoCase(const wchar_t* sub) const;
    void MakeLower();
    void MakeUpper();
    CStr Mid(uint32_t start, uint32_t count) const;
    const wchar_t* Find(const wchar_t* sub) const;
    void TrimLeft();
    void TrimRight();

    uint64_t ScratchSize() const { return m_nScratchSize; }

private:
    void FreeScratch();

    wchar_t* m_pScratch = nullptr;
    uint64_t m_nScratchSize = 0;
};
