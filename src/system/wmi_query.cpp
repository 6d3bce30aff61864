#include "wmi_query.h"

#include "sysinfo.h"

#include <oleauto.h>

#include <cstring>
#include <cwchar>

namespace {

const CLSID kClsidWbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

}  // namespace

CWmiQuery::CWmiQuery()
{
    HRESULT hr = m_com.Enter(COINIT_MULTITHREADED);
    // A windowed host's thread already is a single-threaded apartment; WMI
    // works from that one too. Only an apartment this object entered is
    // left again (m_com knows whether it entered one).
    if (hr == RPC_E_CHANGED_MODE)
        hr = S_OK;
    if (SUCCEEDED(hr)) {
        hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        if (hr == RPC_E_TOO_LATE)
            hr = S_OK;
    }
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                              m_pLocator.put_void());
    if (FAILED(hr)) {
        ReleaseAll();
        RecordComError();
    }
    m_pResult.reset(new unsigned char[kResultBytes]());
}

CWmiQuery::~CWmiQuery()
{
    ReleaseAll();
}

void CWmiQuery::RecordComError()
{
    m_nErrorCode = kErrorComSetup;
    wcscpy(m_szErrorMessage, L"An error occurred initializing the COM environment.");
}

void CWmiQuery::ReleaseAll()
{
    m_pEnumerator.reset();
    m_pServices.reset();
    m_pLocator.reset();
    m_com.Leave();
}

int CWmiQuery::Connect(const wchar_t* nameSpace)
{
    if (!m_pLocator || !nameSpace)
        return 0;
    UniqueBstr ns(SysAllocString(nameSpace));
    HRESULT hr = m_pLocator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                           m_pServices.put());
    if (FAILED(hr)) {
        ReleaseAll();
        RecordComError();
        return 0;
    }
    hr = CoSetProxyBlanket(m_pServices.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        ReleaseAll();
        RecordComError();
        return 0;
    }
    return 1;
}

int CWmiQuery::Select(const wchar_t* className)
{
    if (!m_pServices || !className)
        return 0;
    wchar_t query[256];
    _snwprintf(query, 256, L"SELECT * FROM %ls", className);
    query[255] = L'\0';
    UniqueBstr language(SysAllocString(L"WQL"));
    UniqueBstr text(SysAllocString(query));
    const HRESULT hr = m_pServices->ExecQuery(language.get(), text.get(), WBEM_FLAG_RETURN_IMMEDIATELY,
                                              nullptr, m_pEnumerator.put());
    return hr == S_OK ? 1 : 0;
}

int CWmiQuery::ReadProperty(const wchar_t* propertyName, void* out)
{
    if (!m_pEnumerator || !propertyName || !out)
        return 0;
    m_pEnumerator->Reset();
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        const HRESULT hr = m_pEnumerator->Next(WBEM_INFINITE, 1, object.put(), &returned);
        if (FAILED(hr) || returned == 0)
            break;
        UniqueVariant value;
        if (FAILED(object->Get(propertyName, 0, &value, nullptr, nullptr)))
            return 0;
        if (value.vt == VT_BSTR) {
            wchar_t* text = static_cast<wchar_t*>(out);
            _snwprintf(text, kResultBytes / sizeof(wchar_t), L"%ls", value.bstrVal ? value.bstrVal : L"");
            text[kResultBytes / sizeof(wchar_t) - 1] = L'\0';
        } else if (value.vt == VT_I4) {
            const LONG v = value.lVal;
            memcpy(out, &v, sizeof v);
        } else if (value.vt == (VT_ARRAY | VT_UI1) && value.parray) {
            unsigned char* bytes = static_cast<unsigned char*>(out);
            for (LONG i = 0; i < static_cast<LONG>(kResultBytes); ++i) {
                if (FAILED(SafeArrayGetElement(value.parray, &i, bytes + i)))
                    break;
            }
        }
    }
    return 1;
}

int CWmiQuery::IsComputerModel(const wchar_t* model)
{
    if (!model)
        return 0;
    // The model is read once per context: a dependency list of many
    // platforms costs one WMI query, and a WMI that cannot be reached is
    // asked only once.
    if (m_nModelState == kModelUnread) {
        m_nModelState = kModelUnavailable;
        if (Connect(L"ROOT\\CIMV2") && Select(L"Win32_ComputerSystem") && ReadProperty(L"Model", m_pResult.get())) {
            _snwprintf(m_szModel, kModelUnits, L"%.254ls", reinterpret_cast<const wchar_t*>(m_pResult.get()));
            m_szModel[kModelUnits - 1] = L'\0';
            TrimTrailingSpace(m_szModel);
            m_nModelState = kModelRead;
        }
    }
    if (m_nModelState != kModelRead)
        return 0;
    // A wanted model longer than the compared texts could only match by
    // being cut, which would make two different models equal.
    size_t length = wcslen(model);
    while (length > 0 && (model[length - 1] == L' ' || model[length - 1] == L'\t' || model[length - 1] == L'\r' ||
                          model[length - 1] == L'\n'))
        --length;
    if (length > kModelUnits - 1)
        return 0;
    wchar_t wanted[kModelUnits];
    wmemcpy(wanted, model, length);
    wanted[length] = L'\0';
    return _wcsicmp(m_szModel, wanted) == 0 ? 1 : 0;
}
