// The framework's UTF-16 XML reader: loads a whole file into a tree of nodes
// whose names, attribute values and texts are NUL-terminated UTF-16 texts.
//
// An element's children are chained as its first child followed by the other
// children in reverse document order (children A, B, C, D are chained A, D,
// C, B). Every lookup of the framework depends on that order, so it is part
// of the reader's contract, not an accident of the implementation.
//
// Texts: an element whose content starts with a non-blank character gets a
// "#TEXT" child holding that text; later pieces of the text that start with
// white space (indented lines) are dropped. A CDATA section becomes a
// "#CDATA" child holding the section unchanged. The document node is named
// "#DOCROOT".
#pragma once

#include <cstddef>

class CTzrXMLNode {
public:
    enum Type : int { kElement = 0, kText = 1, kFailed = -1 };

    // Copies name and every attribute text. attributes: name, value, name,
    // value, ... ending in a null name; null for none. When a copy runs out of
    // memory the node keeps type kFailed and no name.
    CTzrXMLNode(const wchar_t* name, const wchar_t* const* attributes, int type);
    // Destroys the subtree and every sibling after this node.
    virtual ~CTzrXMLNode();
    CTzrXMLNode(const CTzrXMLNode&) = delete;
    CTzrXMLNode& operator=(const CTzrXMLNode&) = delete;

    const wchar_t* GetName() const { return m_pszName; }
    const wchar_t* GetText() const { return m_pszText; }
    // Value of the first attribute of that exact name; null when none.
    const wchar_t* GetAttribute(const wchar_t* name) const;
    unsigned GetAttributeCount() const;
    // First node of the child chain with that exact name.
    CTzrXMLNode* GetChild(const wchar_t* name) const;
    // First node after this one in the sibling chain with that exact name.
    CTzrXMLNode* GetNextSibling(const wchar_t* name) const;
    // Replaces the text with count characters; false when out of memory
    // (the text is then left as it was).
    bool SetText(const wchar_t* chars, size_t count);
    // Appends count characters to the text; false when out of memory.
    bool AppendText(const wchar_t* chars, size_t count);

    int m_nType;
    wchar_t* m_pszName = nullptr;
    wchar_t** m_ppszAttributes = nullptr;
    wchar_t* m_pszText = nullptr;
    CTzrXMLNode* m_pNext = nullptr;
    CTzrXMLNode* m_pFirstChild = nullptr;
    CTzrXMLNode* m_pParent = nullptr;

private:
    size_t m_nTextLength = 0;
    size_t m_nTextCapacity = 0;  // characters allocated, terminator included
};

class CTzrXMLReader {
public:
    // Load results.
    enum LoadCode : unsigned {
        kLoaded = 0,
        kNoDocument = 1,  // no document node, or out of memory while loading
        kCannotOpen = 3,
        kCannotRead = 4,
        kParseError = 5,  // not well-formed, empty, unknown encoding
        kTooLarge = 6,    // a file of more than kXmlMaximumFileBytes (expat_parser.h)
    };

    CTzrXMLReader();
    virtual ~CTzrXMLReader();
    CTzrXMLReader(const CTzrXMLReader&) = delete;
    CTzrXMLReader& operator=(const CTzrXMLReader&) = delete;

    // Destroys the tree and starts a new, empty, unloaded document; returns
    // the new document node (null when out of memory).
    CTzrXMLNode* Reset();
    unsigned LoadFile(const wchar_t* path);
    unsigned LoadBuffer(const void* bytes, unsigned count);
    // Why the last load failed, for the log; "" after a load that did not.
    const wchar_t* Why() const { return m_szWhy; }

    // The first node of parent's child chain (the document node when parent
    // is null) named name and, when both attributeName and attributeValue are
    // given, whose attribute of that exact name has the value, compared
    // without regard to the case of ASCII letters. Null when nothing is
    // loaded or nothing matches.
    CTzrXMLNode* FindChild(const CTzrXMLNode* parent, const wchar_t* name, const wchar_t* attributeName = nullptr,
                           const wchar_t* attributeValue = nullptr) const;

    CTzrXMLNode* m_pRoot = nullptr;
    bool m_bLoaded = false;

private:
    unsigned Fail(unsigned code, const wchar_t* format, ...);

    wchar_t m_szWhy[256] = L"";
};

// The text of an element: that of its first child when the child is a text
// or CDATA node ("" for an empty section); null otherwise.
const wchar_t* TzrElementText(const CTzrXMLNode* element);

// Compares two texts folding only the ASCII letters, like the C runtime's
// wide comparison in the default locale. Null sorts before any text.
int TzrCompareNoCase(const wchar_t* a, const wchar_t* b);
