// The install-state record of property 5, as the host hands it over: a
// 32-bit state code at byte 0 and a NUL-terminated UTF-16 message from
// byte 4 to the end of the record. This is the one place that knows that
// layout; the plug-in, the framework and the host all read and write it here.
#pragma once

#include <cstring>
#include <cwchar>

// Install-state codes at offset 0 of the install-state record.
enum TzrInstallState : unsigned {
    kStateSameVersion = 1,
    kStateOlderInstalled = 2,
    kStateNewerInstalled = 3,
    kStateHardwareMissing = 4,
    kStateNotInstalled = 5,
    kStateNotApplicable = 6,
    kStateCannotInstall = 7,
    kStateUndetermined = 8,
};

// Texts of the plug-in's answers that a host keys on (their first words).
// An install state of 7 whose message begins with kBusyText, or an Install
// result line that is kBusyText: another installation holds the machine,
// retry later. An Install result line that ends with kAskAgainText: the
// machine changed since the install state was read; nothing was written.
// An install state of 1 whose message begins with kRestartPendingText: the
// package's firmware is written and runs after the next restart.
constexpr wchar_t kBusyText[] = L"Another firmware installation is running on this machine.";
constexpr wchar_t kAskAgainText[] = L"Ask the install state again.";
constexpr wchar_t kRestartPendingText[] =
    L"A restart is needed: the firmware written to the controllers runs after the next restart.";

class InstallStateRecord {
public:
    static constexpr unsigned kStateBytes = 4;
    static constexpr unsigned kMessageOffset = kStateBytes;
    // 4 bytes of state and 1024 UTF-16 units of message.
    static constexpr unsigned kMinimumBytes = 2052;

    // size is the record's size in bytes, as the host gave it.
    InstallStateRecord(void* record, unsigned size) : m_pBytes(static_cast<unsigned char*>(record)), m_nSize(size) {}

    bool HasState() const { return m_pBytes && m_nSize >= kStateBytes; }
    bool IsFullSize() const { return m_pBytes && m_nSize >= kMinimumBytes; }
    // Characters the message may use, its terminator included.
    unsigned MessageCapacity() const { return HasState() ? (m_nSize - kStateBytes) / sizeof(wchar_t) : 0; }

    // Nothing is written into a record too small for the code.
    void SetState(unsigned state)
    {
        if (HasState())
            std::memcpy(m_pBytes, &state, sizeof state);
    }
    unsigned State() const { return StateOf(m_pBytes, m_nSize); }
    // The code of a record only read (0 when it is too small to hold one).
    static unsigned StateOf(const void* record, unsigned size)
    {
        unsigned state = 0;
        if (record && size >= kStateBytes)
            std::memcpy(&state, record, sizeof state);
        return state;
    }
    // Copies as much of text as fits and always terminates; nothing when
    // the record has no room for a single unit. The copy goes byte-wise, as
    // the host's buffer need not be aligned for wchar_t.
    void SetMessage(const wchar_t* text)
    {
        const unsigned capacity = MessageCapacity();
        if (capacity == 0)
            return;
        size_t length = text ? std::wcslen(text) : 0;
        if (length > capacity - 1)
            length = capacity - 1;
        if (length)
            std::memcpy(m_pBytes + kMessageOffset, text, length * sizeof(wchar_t));
        const wchar_t nul = L'\0';
        std::memcpy(m_pBytes + kMessageOffset + length * sizeof(wchar_t), &nul, sizeof nul);
    }

private:
    unsigned char* m_pBytes;
    unsigned m_nSize;
};
