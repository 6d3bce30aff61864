// The flash engine's XML document: a whole file read by expat into a tree of
// nodes whose names, attribute values and texts are byte strings (UTF-8 as
// expat delivers them), queried with the small path language of c_xpath.h.
//
// Standard C++ and expat only: no Windows headers, so the same sources build
// natively for sanitizer and fuzzing runs.
#pragma once

#include <expat.h>

#include "expat_parser.h"

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>

class C_XML {
private:
    // Every string of the tree is a record in the document's arena: length
    // and capacity, then the bytes. A record whose capacity equals its
    // length is never written again, so it can be shared: names, short
    // values and short texts repeat endlessly in a document and are stored
    // once. A text that grows gets a record of its own with room to spare.
    class C_Text {
    public:
        std::string_view view() const;
        uint32_t m_nLength;
        uint32_t m_nCapacity;
        // the bytes follow
    };

public:
    // (name, value) as the parser reports it.
    using Attribute = std::pair<std::string_view, std::string_view>;

    // A node's attributes, in document order: a count followed by pairs of
    // name and value records.
    class C_AttributeList {
    public:
        class const_iterator {
        public:
            explicit const_iterator(const C_Text* const* at) : m_pAt(at) {}
            Attribute operator*() const;
            const_iterator& operator++() {
                m_pAt += 2;
                return *this;
            }
            bool operator!=(const const_iterator& other) const { return m_pAt != other.m_pAt; }
            bool operator==(const const_iterator& other) const { return m_pAt == other.m_pAt; }

        private:
            const C_Text* const* m_pAt;
        };

        explicit C_AttributeList(const void* record) : m_pRecord(record) {}
        size_t size() const;
        bool empty() const { return size() == 0; }
        Attribute operator[](size_t i) const;
        const_iterator begin() const;
        const_iterator end() const;

    private:
        const C_Text* const* pairs() const;
        const void* m_pRecord;  // null: no attributes
    };

    // One element. The document node is a node too: empty name, no
    // attributes, no parent, and the file's top-level element as its child.
    //
    // Everything a node refers to (its name, attributes, text and children)
    // lives in the arena of the document that built it, and a node owns no
    // memory of its own: a package definition is a great many small strings
    // and nodes, allocating and freeing them one by one would cost several
    // times the parse, and the tree goes away all at once with its document,
    // with no recursion however deep it is nested. 64 bytes a node.
    class C_Node {
    public:
        std::string_view name() const { return m_pName != nullptr ? m_pName->view() : std::string_view(); }
        std::string_view text() const { return m_pText != nullptr ? m_pText->view() : std::string_view(); }
        C_AttributeList attributes() const { return C_AttributeList(m_pAttributes); }
        bool hasCdata() const { return m_bHasCdata; }
        const C_Node* parent() const { return m_pParent; }
        // The children, a list in document order; a node's address stays
        // valid as long as its document keeps the tree.
        const C_Node* firstChild() const { return m_pFirstChild; }
        const C_Node* nextSibling() const { return m_pNextSibling; }

    private:
        friend class C_XML;
        const C_Text* m_pName = nullptr;      // null: empty
        const void* m_pAttributes = nullptr;  // see C_AttributeList
        C_Text* m_pText = nullptr;            // null: empty
        C_Node* m_pParent = nullptr;
        C_Node* m_pFirstChild = nullptr;
        C_Node* m_pLastChild = nullptr;
        C_Node* m_pNextSibling = nullptr;
        bool m_bHasCdata = false;
        // How many leading bytes of the text are known to be white space. A
        // text only grows until it is dropped, so trimming resumes its scan
        // here: a long blank run followed by many children is read once, not
        // once per child.
        uint32_t m_nBlankPrefix = 0;
    };

    // What the parser's callbacks share during one load.
    struct C_ParseContext {
        C_XML* m_pDocument = nullptr;
        C_Node* m_pCurrent = nullptr;
        bool m_bAfterEnd = false;  // the last structural event closed an element or a CDATA section
        bool m_bInCdata = false;
        // After an end: the line's blanks waiting for text, or text came.
        std::string m_sBlankRun;
        bool m_bLineHasText = false;
        int m_nStatus = 0;         // 2 after a standard error in a callback, 3 after any other
        std::string m_sError;
        XML_Parser m_parser = nullptr;  // null: attribute defaults are not counted
        XmlDefaultAttributeTally m_defaults;

        void setAfterEnd(bool on) {
            m_bAfterEnd = on;
            m_sBlankRun.clear();
            m_bLineHasText = false;
        }
    };

    C_XML();
    virtual ~C_XML();
    C_XML(const C_XML&) = delete;
    C_XML& operator=(const C_XML&) = delete;

    // Takes effect for the next load.
    virtual void setTrimWhitespace(bool on);
    // Parses the file into the document. A second load adds a second
    // top-level element; the tree built before a parse error stays. True
    // when the whole file parsed and the tree is complete.
    virtual bool load(const std::string& path);
    // Empties the document node and gives back the tree's memory; nodes
    // handed out before are gone.
    virtual void clear();

    const C_Node* document() const { return &m_document; }
    bool trimWhitespace() const { return m_bTrim; }
    // Why the last load failed: 0 for no failure, 1 when the parser rejected
    // the file (or it could not be read, or it is larger than
    // kXmlMaximumFileBytes), 2 or 3 when building the tree
    // failed inside a callback (standard error or any other), 4 when the
    // document was refused for expanding far beyond its size (an entity
    // bomb; see expat_parser.h). The text says what happened.
    int lastStatus() const { return m_nLastStatus; }
    const std::string& lastError() const { return m_sLastError; }

    // Node access; they do not depend on the document they are called on.
    static const C_Node* firstChild(const C_Node* node);
    static const C_Node* nextSibling(const C_Node* node);
    static const C_Node* parent(const C_Node* node);
    static const C_Node* findChild(const C_Node* node, const std::string& name);
    static bool getText(const C_Node* node, std::string* out = nullptr);
    static bool getAttribute(const C_Node* node, const std::string& name, std::string* out = nullptr);
    static bool getAttribute(const C_Node* node, const char* name, std::string* out = nullptr);
    static bool hasCdata(const C_Node* node);
    // True when every byte is blank, CR, LF or tab; an empty text counts too.
    static bool isWhitespace(const char* data, size_t count);

    // Path queries (c_xpath.h): the first matching node, its text, or one of
    // its attributes. selectText and selectAttribute leave out unchanged when
    // there is nothing to copy; selectAttribute is true when a node matched,
    // even if it lacks the attribute.
    const C_Node* selectNode(const std::string& path) const;
    bool selectText(const std::string& path, std::string& out) const;
    bool selectAttribute(const std::string& path, const std::string& attribute, std::string& out) const;

    // expat's callbacks; the user data is a C_ParseContext.
    static void XMLCALL startElement(void* context, const XML_Char* name, const XML_Char** attributes);
    static void XMLCALL endElement(void* context, const XML_Char* name);
    static void XMLCALL characterData(void* context, const XML_Char* data, int count);
    static void XMLCALL startCdataSection(void* context);
    static void XMLCALL endCdataSection(void* context);

private:
    // Appends bytes to a node's text, growing its room in the arena.
    void appendText(C_Node* node, const char* data, size_t count);
    // Text after an end, outside CDATA, with trimming on: judged by line.
    void appendLines(C_ParseContext& ctx, const char* data, size_t count);
    // A full record of the bytes; shared ones come from a small cache of
    // recent records, so repeats cost nothing.
    C_Text* record(const char* data, size_t count, bool shared);
    void trimText(C_Node* node) const;

    static constexpr size_t kCacheSlots = 256;
    static constexpr size_t kSharedMax = 64;

    std::pmr::monotonic_buffer_resource m_arena;
    C_Text* m_aRecordCache[kCacheSlots] = {};
    C_Node m_document;
    bool m_bTrim = false;
    int m_nLastStatus = 0;
    std::string m_sLastError;
};
