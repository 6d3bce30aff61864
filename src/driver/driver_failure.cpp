#include "driver_failure.h"

#include <setupapi.h>

#include <cwchar>

namespace driverfail {
namespace {

std::wstring g_sReason;
bool g_bHeld = false;
bool g_bProvisional = false;
std::vector<std::wstring> g_vNotes;
int g_nKept = 0;

struct SetupApiError {
    DWORD code;
    const wchar_t* text;
};

// FormatMessage does not know SetupAPI's own codes (customer bit set), so
// the ones the driver road can meet are named here.
const SetupApiError kSetupApiErrors[] = {
    {ERROR_EXPECTED_SECTION_NAME, L"expected a section name"},
    {ERROR_BAD_SECTION_NAME_LINE, L"bad section name line"},
    {ERROR_SECTION_NAME_TOO_LONG, L"section name too long"},
    {ERROR_GENERAL_SYNTAX, L"general syntax error in the INF"},
    {ERROR_WRONG_INF_STYLE, L"wrong INF style"},
    {ERROR_SECTION_NOT_FOUND, L"section not found"},
    {ERROR_LINE_NOT_FOUND, L"line not found"},
    {ERROR_NO_DRIVER_SELECTED, L"no driver selected"},
    {ERROR_KEY_DOES_NOT_EXIST, L"key does not exist"},
    {ERROR_INVALID_DEVINST_NAME, L"invalid device instance name"},
    {ERROR_INVALID_CLASS, L"invalid class"},
    {ERROR_DEVINST_ALREADY_EXISTS, L"device instance already exists"},
    {ERROR_DEVINFO_NOT_REGISTERED, L"device information not registered"},
    {ERROR_INVALID_REG_PROPERTY, L"invalid registry property"},
    {ERROR_NO_INF, L"no INF"},
    {ERROR_NO_SUCH_DEVINST, L"no such device instance"},
    {ERROR_INVALID_CLASS_INSTALLER, L"invalid class installer"},
    {ERROR_DI_DO_DEFAULT, L"do the default action"},
    {ERROR_DI_NOFILECOPY, L"no file copy"},
    {ERROR_NO_DEVICE_SELECTED, L"no device selected"},
    {ERROR_DI_BAD_PATH, L"bad driver path"},
    {ERROR_NO_CLASSINSTALL_PARAMS, L"no class install parameters"},
    {ERROR_BAD_SERVICE_INSTALLSECT, L"bad service install section"},
    {ERROR_NO_CLASS_DRIVER_LIST, L"no class driver list"},
    {ERROR_NO_ASSOCIATED_SERVICE, L"no associated service"},
    {ERROR_NO_COMPAT_DRIVERS, L"no compatible drivers"},
    {ERROR_NO_ASSOCIATED_CLASS, L"no associated class"},
    {ERROR_CLASS_MISMATCH, L"class mismatch"},
    {ERROR_IN_WOW64, L"a 32-bit installer in a 64-bit system"},
    {ERROR_NO_CATALOG_FOR_OEM_INF, L"no catalog for the OEM INF"},
};

void Hold(std::wstring reason, bool provisional = false)
{
    if (g_nKept > 0)
        return;
    if (g_bHeld && (provisional || !g_bProvisional))
        return;
    g_sReason = std::move(reason);
    g_bHeld = true;
    g_bProvisional = provisional;
}

}  // namespace

std::wstring CallReason(const std::wstring& call, DWORD error)
{
    wchar_t code[16];
    swprintf(code, sizeof code / sizeof code[0], L"0x%08X", static_cast<unsigned>(error));
    std::wstring reason = call + L" failed: error " + code;
    const std::wstring text = ErrorText(error);
    if (!text.empty())
        reason += L" (" + text + L")";
    return reason;
}

KeepReason::KeepReason()
{
    ++g_nKept;
}

KeepReason::~KeepReason()
{
    --g_nKept;
}

void Reset()
{
    g_sReason.clear();
    g_bHeld = false;
    g_bProvisional = false;
    g_vNotes.clear();
}

void Note(const std::wstring& line)
{
    g_vNotes.push_back(line);
}

const std::vector<std::wstring>& Notes()
{
    return g_vNotes;
}

int Call(const std::wstring& call)
{
    return CallError(call, GetLastError());
}

int CallError(const std::wstring& call, DWORD error)
{
    if (!g_bHeld || g_bProvisional)
        Hold(CallReason(call, error));
    return 0;
}

void Provisional(const std::wstring& call, DWORD error)
{
    if (!g_bHeld)
        Hold(CallReason(call, error), true);
}

int Refused(const std::wstring& what)
{
    Hold(what);
    return 0;
}

bool Held()
{
    return g_bHeld;
}

std::wstring Line()
{
    return g_bHeld ? L"    - " + g_sReason + L"\r\n" : std::wstring();
}

std::wstring ErrorText(DWORD error)
{
    for (const SetupApiError& entry : kSetupApiErrors)
        if (entry.code == error)
            return entry.text;
    wchar_t text[512] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text / sizeof text[0], nullptr);
    if (n >= sizeof text / sizeof text[0])
        n = 0;
    // One line in the log: the table's line end and closing full stop go.
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ' || text[n - 1] == L'.'))
        --n;
    return std::wstring(text, n);
}

}  // namespace driverfail
