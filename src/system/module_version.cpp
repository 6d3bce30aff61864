#include "module_version.h"

#include <cstdio>
#include <cstring>
#include <string>

CStr FileVersionText(DWORD versionMS, DWORD versionLS)
{
    // Four 16-bit parts: at most 23 characters and the terminator.
    wchar_t text[32];
    swprintf(text, sizeof text / sizeof text[0], L"%u.%u.%u.%u", HIWORD(versionMS), LOWORD(versionMS),
             HIWORD(versionLS), LOWORD(versionLS));
    return CStr(text);
}

namespace {

// One node of the version block: its size, key, value and children, each
// within the bytes its parent gives it.
struct VersionNode {
    size_t length = 0;
    std::wstring key;
    const BYTE* value = nullptr;
    size_t valueBytes = 0;
    const BYTE* children = nullptr;
    size_t childBytes = 0;
};

size_t Align4(size_t n)
{
    return (n + 3) & ~static_cast<size_t>(3);
}

bool ReadNode(const BYTE* at, size_t available, VersionNode& node)
{
    WORD head[3];
    if (available < sizeof head)
        return false;
    std::memcpy(head, at, sizeof head);
    node.length = head[0];
    if (node.length < sizeof head || node.length > available)
        return false;
    size_t offset = sizeof head;
    node.key.clear();
    for (;;) {
        if (offset + 2 > node.length)
            return false;
        wchar_t c;
        std::memcpy(&c, at + offset, 2);
        offset += 2;
        if (c == L'\0')
            break;
        node.key += c;
    }
    offset = Align4(offset);
    // A text value's length counts characters (type 1), a binary one bytes.
    node.valueBytes = head[2] == 1 ? head[1] * sizeof(wchar_t) : head[1];
    if (offset + node.valueBytes > node.length)
        node.valueBytes = offset < node.length ? node.length - offset : 0;
    node.value = at + offset;
    offset = Align4(offset + node.valueBytes);
    node.children = at + (offset < node.length ? offset : node.length);
    node.childBytes = offset < node.length ? node.length - offset : 0;
    return true;
}

// The child of parent with key, or false.
bool FindChild(const VersionNode& parent, const wchar_t* key, VersionNode& child)
{
    size_t offset = 0;
    while (offset < parent.childBytes && ReadNode(parent.children + offset, parent.childBytes - offset, child)) {
        if (key == nullptr || child.key == key)
            return true;
        offset += Align4(child.length);
    }
    return false;
}

}  // namespace

CStr ModuleProductVersionText(HMODULE module)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* block = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    VersionNode root, strings, table, text;
    if (!block || !ReadNode(block, size, root) || !FindChild(root, L"StringFileInfo", strings) ||
        !FindChild(strings, nullptr, table) || !FindChild(table, L"ProductVersion", text))
        return CStr();
    std::wstring value(reinterpret_cast<const wchar_t*>(text.value), text.valueBytes / sizeof(wchar_t));
    value = value.substr(0, value.find(L'\0'));
    return CStr(value.c_str());
}

CStr ModuleFileVersion(HMODULE module)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* block = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    // The block opens with three 16-bit fields and the key "VS_VERSION_INFO"
    // with its terminator; the fixed part follows on a 32-bit boundary.
    const size_t offset = (3 * sizeof(WORD) + 16 * sizeof(WCHAR) + 3) & ~static_cast<size_t>(3);
    if (!block || size < offset + sizeof(VS_FIXEDFILEINFO))
        return CStr();
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block + offset, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return CStr();
    return FileVersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
}
