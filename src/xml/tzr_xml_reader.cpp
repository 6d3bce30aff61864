#include "tzr_xml_reader.h"

#include <expat.h>

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "expat_parser.h"
#include "text_util.h"
#include "win_handle.h"

namespace {

wchar_t* CopyText(const wchar_t* text)
{
    if (!text)
        text = L"";
    const size_t length = wcslen(text);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (copy)
        memcpy(copy, text, (length + 1) * sizeof(wchar_t));
    return copy;
}

void FreeAttributes(wchar_t** attributes)
{
    if (!attributes)
        return;
    for (wchar_t** p = attributes; *p; ++p)
        delete[] *p;
    delete[] attributes;
}


bool SameName(const CTzrXMLNode* node, const wchar_t* name)
{
    return node->m_pszName && wcscmp(node->m_pszName, name) == 0;
}

// Destroys a first-child/next-sibling tree without recursion: a package
// definition may list thousands of siblings or nest deeply, and neither may
// cost stack. Each node with a child is rotated so that its child comes
// first; a node without a child is detached and deleted.
void DestroyChain(CTzrXMLNode* node)
{
    while (node) {
        if (CTzrXMLNode* child = node->m_pFirstChild) {
            node->m_pFirstChild = child->m_pNext;
            child->m_pNext = node;
            node = child;
        } else {
            CTzrXMLNode* next = node->m_pNext;
            node->m_pNext = nullptr;
            delete node;
            node = next;
        }
    }
}

// UTF-8 as expat reports it (already validated) into UTF-16, appended to
// out. A name or a piece of text: less than the 2 GB XML_Parse takes.
void AppendUtf16(std::wstring& out, const char* text, size_t length)
{
    const int count = static_cast<int>(length);
    const int n = count > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0) : 0;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text, count, &out[at], n);
}

// State of one parse. The pending text node collects the later chunks of an
// element's text; when it could not be linked (the element already had a
// child) it is an orphan that the context owns until it is replaced.
struct ParseContext {
    XML_Parser parser = nullptr;
    CTzrXMLNode* current = nullptr;
    bool textAllowed = true;
    bool inCdata = false;
    bool firstChunk = false;
    CTzrXMLNode* pending = nullptr;
    CTzrXMLNode* orphan = nullptr;
    bool outOfMemory = false;
    XmlDefaultAttributeTally defaults;
    std::wstring chunk;

    ~ParseContext() { delete orphan; }

    void Fail()
    {
        outOfMemory = true;
        XML_StopParser(parser, XML_FALSE);
    }
};

// First child stays first; every later child goes directly after it.
void LinkUnder(CTzrXMLNode* parent, CTzrXMLNode* node)
{
    node->m_pParent = parent;
    if (!parent->m_pFirstChild) {
        parent->m_pFirstChild = node;
    } else {
        node->m_pNext = parent->m_pFirstChild->m_pNext;
        parent->m_pFirstChild->m_pNext = node;
    }
}

void XMLCALL OnStartElement(void* data, const XML_Char* name, const XML_Char** attributes)
{
    ParseContext& ctx = *static_cast<ParseContext*>(data);
    if (ctx.outOfMemory || !ctx.current || !ctx.defaults.Add(ctx.parser, attributes))
        return;
    try {
        ctx.textAllowed = true;
        ctx.firstChunk = true;
        std::wstring wideName;
        AppendUtf16(wideName, name, strlen(name));
        std::vector<std::wstring> texts;
        for (const XML_Char** p = attributes; p && *p; ++p) {
            texts.emplace_back();
            AppendUtf16(texts.back(), *p, strlen(*p));
        }
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& text : texts)
            pointers.push_back(text.c_str());
        pointers.push_back(nullptr);
        CTzrXMLNode* node = new (std::nothrow)
            CTzrXMLNode(wideName.c_str(), texts.empty() ? nullptr : pointers.data(), CTzrXMLNode::kElement);
        if (!node) {
            ctx.Fail();
            return;
        }
        LinkUnder(ctx.current, node);
        ctx.current = node;
        if (node->m_nType == CTzrXMLNode::kFailed)
            ctx.Fail();
    } catch (...) {
        ctx.Fail();
    }
}

void XMLCALL OnEndElement(void* data, const XML_Char*)
{
    ParseContext& ctx = *static_cast<ParseContext*>(data);
    if (ctx.current && ctx.current->m_pParent)
        ctx.current = ctx.current->m_pParent;
}

void XMLCALL OnStartCdata(void* data)
{
    ParseContext& ctx = *static_cast<ParseContext*>(data);
    if (ctx.outOfMemory || !ctx.current)
        return;
    ctx.textAllowed = true;
    ctx.inCdata = true;
    CTzrXMLNode* node = new (std::nothrow) CTzrXMLNode(L"#CDATA", nullptr, CTzrXMLNode::kText);
    if (!node) {
        ctx.Fail();
        return;
    }
    LinkUnder(ctx.current, node);
    ctx.current = node;
}

void XMLCALL OnEndCdata(void* data)
{
    ParseContext& ctx = *static_cast<ParseContext*>(data);
    ctx.textAllowed = false;
    ctx.inCdata = false;
    if (ctx.current && ctx.current->m_pParent)
        ctx.current = ctx.current->m_pParent;
}

// One chunk exactly as the parser delivers it: a new chunk starts at each
// line break and at each character or entity reference, so the rules below
// see the same pieces a parser reporting 16-bit characters would show.
void XMLCALL OnCharacterData(void* data, const XML_Char* text, int length)
{
    ParseContext& ctx = *static_cast<ParseContext*>(data);
    if (ctx.outOfMemory || !ctx.current || length <= 0)
        return;
    try {
        ctx.chunk.clear();
        AppendUtf16(ctx.chunk, text, static_cast<size_t>(length));
        const wchar_t* chars = ctx.chunk.data();
        const size_t count = ctx.chunk.size();
        if (ctx.inCdata) {
            if (!ctx.current->AppendText(chars, count))
                ctx.Fail();
            return;
        }
        if (!ctx.textAllowed)
            return;
        const bool blank = IsXmlBlank(chars[0]);
        if (ctx.firstChunk) {
            // Content that starts with white space is layout, not text.
            if (blank) {
                ctx.textAllowed = false;
                return;
            }
            CTzrXMLNode* node = new (std::nothrow) CTzrXMLNode(L"#TEXT", nullptr, CTzrXMLNode::kText);
            if (!node || node->m_nType == CTzrXMLNode::kFailed || !node->SetText(chars, count)) {
                delete node;
                ctx.Fail();
                return;
            }
            ctx.firstChunk = false;
            ctx.pending = node;
            // Text after a child element is never the element's text.
            delete ctx.orphan;
            ctx.orphan = nullptr;
            if (!ctx.current->m_pFirstChild)
                LinkUnder(ctx.current, node);
            else
                ctx.orphan = node;
            return;
        }
        if (blank || !ctx.pending)
            return;
        if (!ctx.pending->AppendText(chars, count))
            ctx.Fail();
    } catch (...) {
        ctx.Fail();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CTzrXMLNode

CTzrXMLNode::CTzrXMLNode(const wchar_t* name, const wchar_t* const* attributes, int type) : m_nType(type)
{
    wchar_t* copiedName = CopyText(name);
    wchar_t** copied = nullptr;
    bool ok = copiedName != nullptr;
    if (ok && attributes && attributes[0]) {
        size_t count = 0;
        while (attributes[count])
            ++count;
        copied = new (std::nothrow) wchar_t*[count + 1];
        ok = copied != nullptr;
        if (ok) {
            for (size_t i = 0; i <= count; ++i)
                copied[i] = nullptr;
            for (size_t i = 0; i < count && ok; ++i) {
                copied[i] = CopyText(attributes[i]);
                ok = copied[i] != nullptr;
            }
        }
    }
    if (!ok) {
        delete[] copiedName;
        FreeAttributes(copied);
        m_nType = kFailed;
        return;
    }
    m_pszName = copiedName;
    m_ppszAttributes = copied;
}

CTzrXMLNode::~CTzrXMLNode()
{
    DestroyChain(m_pFirstChild);
    DestroyChain(m_pNext);
    delete[] m_pszName;
    FreeAttributes(m_ppszAttributes);
    delete[] m_pszText;
}

const wchar_t* CTzrXMLNode::GetAttribute(const wchar_t* name) const
{
    if (!name || !m_ppszAttributes)
        return nullptr;
    for (wchar_t** p = m_ppszAttributes; p[0] && p[1]; p += 2) {
        if (wcscmp(p[0], name) == 0)
            return p[1];
    }
    return nullptr;
}

unsigned CTzrXMLNode::GetAttributeCount() const
{
    unsigned count = 0;
    if (m_ppszAttributes) {
        for (wchar_t** p = m_ppszAttributes; p[0] && p[1]; p += 2)
            ++count;
    }
    return count;
}

CTzrXMLNode* CTzrXMLNode::GetChild(const wchar_t* name) const
{
    if (!name)
        return nullptr;
    for (CTzrXMLNode* node = m_pFirstChild; node; node = node->m_pNext) {
        if (SameName(node, name))
            return node;
    }
    return nullptr;
}

CTzrXMLNode* CTzrXMLNode::GetNextSibling(const wchar_t* name) const
{
    if (!name)
        return nullptr;
    for (CTzrXMLNode* node = m_pNext; node; node = node->m_pNext) {
        if (SameName(node, name))
            return node;
    }
    return nullptr;
}

bool CTzrXMLNode::SetText(const wchar_t* chars, size_t count)
{
    wchar_t* text = new (std::nothrow) wchar_t[count + 1];
    if (!text)
        return false;
    if (count)
        memcpy(text, chars, count * sizeof(wchar_t));
    text[count] = L'\0';
    delete[] m_pszText;
    m_pszText = text;
    m_nTextLength = count;
    m_nTextCapacity = count + 1;
    return true;
}

bool CTzrXMLNode::AppendText(const wchar_t* chars, size_t count)
{
    if (!m_pszText)
        return SetText(chars, count);
    if (m_nTextLength + count + 1 > m_nTextCapacity) {
        // Grows geometrically: a long multi-line section arrives in many
        // chunks, and copying the whole text for each would be quadratic.
        size_t capacity = m_nTextCapacity * 2;
        if (capacity < m_nTextLength + count + 1)
            capacity = m_nTextLength + count + 1;
        wchar_t* text = new (std::nothrow) wchar_t[capacity];
        if (!text)
            return false;
        memcpy(text, m_pszText, m_nTextLength * sizeof(wchar_t));
        delete[] m_pszText;
        m_pszText = text;
        m_nTextCapacity = capacity;
    }
    if (count)
        memcpy(m_pszText + m_nTextLength, chars, count * sizeof(wchar_t));
    m_nTextLength += count;
    m_pszText[m_nTextLength] = L'\0';
    return true;
}

// ---------------------------------------------------------------------------
// CTzrXMLReader

CTzrXMLReader::CTzrXMLReader()
{
    Reset();
}

CTzrXMLReader::~CTzrXMLReader()
{
    delete m_pRoot;
}

CTzrXMLNode* CTzrXMLReader::Reset()
{
    delete m_pRoot;
    m_pRoot = nullptr;
    m_bLoaded = false;
    m_szWhy[0] = L'\0';
    CTzrXMLNode* root = new (std::nothrow) CTzrXMLNode(L"#DOCROOT", nullptr, CTzrXMLNode::kElement);
    if (root && root->m_nType == CTzrXMLNode::kFailed) {
        delete root;
        root = nullptr;
    }
    m_pRoot = root;
    return m_pRoot;
}

unsigned CTzrXMLReader::LoadBuffer(const void* bytes, unsigned count)
{
    if (!Reset())
        return kNoDocument;
    if (!bytes)
        count = 0;
    ParseContext ctx;
    ctx.current = m_pRoot;
    // No encoding given: the parser takes UTF-8 or UTF-16 from the byte-order
    // mark or the declaration and reports UTF-8, converted here.
    UniqueXmlParser parser = CreateXmlParser();
    if (!parser)
        return kNoDocument;
    ctx.parser = parser.get();
    XML_SetUserData(ctx.parser, &ctx);
    XML_SetElementHandler(ctx.parser, OnStartElement, OnEndElement);
    XML_SetCharacterDataHandler(ctx.parser, OnCharacterData);
    XML_SetCdataSectionHandler(ctx.parser, OnStartCdata, OnEndCdata);
    const bool parsed =
        XML_Parse(ctx.parser, static_cast<const char*>(bytes ? bytes : ""), static_cast<int>(count), XML_TRUE) ==
        XML_STATUS_OK;
    const XML_Error error = XML_GetErrorCode(ctx.parser);
    if (ctx.outOfMemory || error == XML_ERROR_NO_MEMORY)
        return Fail(kNoDocument, L"out of memory");
    if (ctx.defaults.Broken())
        return Fail(kParseError, L"%hs", ctx.defaults.Refusal().c_str());
    if (!parsed)
        return Fail(kParseError, L"%hs at line %lu", XML_ErrorString(error),
                    static_cast<unsigned long>(XML_GetCurrentLineNumber(ctx.parser)));
    m_bLoaded = true;
    return kLoaded;
}

unsigned CTzrXMLReader::LoadFile(const wchar_t* path)
{
    if (!Reset())
        return kNoDocument;
    if (!path)
        return kCannotOpen;
    UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file)
        return Fail(kCannotOpen, L"cannot open: system error %lu", GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return Fail(kCannotRead, L"no size: system error %lu", GetLastError());
    if (static_cast<unsigned long long>(size.QuadPart) > kXmlMaximumFileBytes)
        return Fail(kTooLarge, L"%lld bytes, more than the %llu a package definition may have", size.QuadPart,
                    kXmlMaximumFileBytes);
    const DWORD total = static_cast<DWORD>(size.QuadPart);
    std::vector<char> bytes;
    try {
        bytes.resize(total);
    } catch (...) {
        return kNoDocument;
    }
    for (DWORD done = 0; done < total;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, total - done, &got, nullptr) || got == 0)
            return Fail(kCannotRead, L"cannot read: system error %lu", GetLastError());
        done += got;
    }
    file.reset();
    return LoadBuffer(bytes.data(), total);
}

unsigned CTzrXMLReader::Fail(unsigned code, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnwprintf(m_szWhy, sizeof m_szWhy / sizeof m_szWhy[0] - 1, format, args);
    va_end(args);
    m_szWhy[sizeof m_szWhy / sizeof m_szWhy[0] - 1] = L'\0';
    return code;
}

CTzrXMLNode* CTzrXMLReader::FindChild(const CTzrXMLNode* parent, const wchar_t* name, const wchar_t* attributeName,
                                      const wchar_t* attributeValue) const
{
    if (!m_bLoaded || !name)
        return nullptr;
    if (!parent)
        parent = m_pRoot;
    if (!parent)
        return nullptr;
    const bool bySelector = attributeName && attributeValue;
    for (CTzrXMLNode* node = parent->m_pFirstChild; node; node = node->m_pNext) {
        if (!SameName(node, name))
            continue;
        if (!bySelector)
            return node;
        const wchar_t* value = node->GetAttribute(attributeName);
        if (value && TzrCompareNoCase(value, attributeValue) == 0)
            return node;
    }
    return nullptr;
}

const wchar_t* TzrElementText(const CTzrXMLNode* element)
{
    if (!element || !element->m_pFirstChild || element->m_pFirstChild->m_nType != CTzrXMLNode::kText)
        return nullptr;
    const wchar_t* text = element->m_pFirstChild->GetText();
    return text ? text : L"";
}

int TzrCompareNoCase(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b)
        return (a ? 1 : 0) - (b ? 1 : 0);
    for (;; ++a, ++b) {
        const int ca = AsciiLower(*a);
        const int cb = AsciiLower(*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}
