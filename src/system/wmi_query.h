// A small WMI query context: one namespace, one query, one property read.
// It initialises COM for the calling thread (or uses the apartment the thread
// already has) and undoes only its own initialisation on destruction.
#pragma once

#include "win_handle.h"

#include <wbemidl.h>

#include <memory>

class CWmiQuery {
public:
    static constexpr int kErrorComSetup = 11;

    CWmiQuery();
    ~CWmiQuery();
    CWmiQuery(const CWmiQuery&) = delete;
    CWmiQuery& operator=(const CWmiQuery&) = delete;

    int Connect(const wchar_t* nameSpace);
    int Select(const wchar_t* className);
    // Reads the property of the query's result objects into out (the result
    // buffer, 512 bytes); the last object's value stays.
    int ReadProperty(const wchar_t* propertyName, void* out);
    // 1 when WMI's Win32_ComputerSystem.Model equals model, ignoring case and
    // trailing white space.
    int IsComputerModel(const wchar_t* model);

    int ErrorCode() const { return m_nErrorCode; }
    const wchar_t* ErrorMessage() const { return m_szErrorMessage; }
    void* ResultBuffer() const { return m_pResult.get(); }

    static constexpr size_t kResultBytes = 512;

private:
    void RecordComError();
    void ReleaseAll();

    // Declared before the interface pointers: members are destroyed in
    // reverse order, so COM is left only after every pointer is released.
    ComApartment m_com;
    ComPtr<IWbemLocator> m_pLocator;
    ComPtr<IWbemServices> m_pServices;
    ComPtr<IEnumWbemClassObject> m_pEnumerator;
    int m_nErrorCode = 0;
    wchar_t m_szErrorMessage[256] = L"";
    std::unique_ptr<unsigned char[]> m_pResult;

    // The computer model, read on the first IsComputerModel and kept with
    // its trailing white space removed; at most 254 characters.
    static constexpr size_t kModelUnits = 255;
    enum ModelState { kModelUnread, kModelRead, kModelUnavailable };
    ModelState m_nModelState = kModelUnread;
    wchar_t m_szModel[kModelUnits] = L"";
};
