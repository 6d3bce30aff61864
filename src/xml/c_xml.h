// The flash engine's XML document: a whole file read by expat into a tree of
// nodes whose names, attribute values and texts are byte strings (UTF-8 as
// expat delivers them), queried with the small path language of c_xpath.h.
//
// Standard C++ and expat only: no Windows headers, so the same sources build
// natively for sanitizer and fuzzing runs.
#pragma once

#include <expat.h>

#include <cstddef>
#include <list>
#include <string>
#include <utility>
#include <vector>

class C_XML {
public:
    // One element. The document node is a node too: empty name, no
    // attributes, no parent, and the file's top-level element as its child.
    class C_Node {
    public:
        C_Node() = default;
        C_Node(const std::string& name, C_Node* parent);
        // Destroys the subtree without recursion, so a document nested a
        // hundred thousand levels deep cannot exhaust the stack.
        ~C_Node();
        C_Node(const C_Node&) = delete;
        C_Node& operator=(const C_Node&) = delete;

        // Destroys the children and empties name, attributes and text.
        void reset();

        std::string m_sName;
        std::vector<std::pair<std::string, std::string>> m_vAttributes;  // document order
        std::string m_sText;
        bool m_bHasCdata = false;
        C_Node* m_pParent = nullptr;
        std::list<C_Node> m_lChildren;  // document order; list nodes never move
        // The child after this one in the parent's list, kept as the children
        // are appended so that walking siblings costs nothing per step.
        C_Node* m_pNextSibling = nullptr;
    };

    // What the parser's callbacks share during one load.
    struct C_ParseContext {
        C_XML* m_pDocument = nullptr;
        C_Node* m_pCurrent = nullptr;
        bool m_bAfterEnd = false;  // the last structural event closed an element or a CDATA section
        bool m_bInCdata = false;
        int m_nStatus = 0;         // 2 after a standard error in a callback, 3 after any other
        std::string m_sError;
    };

    C_XML() = default;
    virtual ~C_XML();
    C_XML(const C_XML&) = delete;
    C_XML& operator=(const C_XML&) = delete;

    // Takes effect for the next load.
    virtual void setTrimWhitespace(bool on);
    // Parses the file into the document. A second load adds a second
    // top-level element; the tree built before a parse error stays. True
    // when the whole file parsed and the tree is complete.
    virtual bool load(const std::string& path);
    // Empties the document node.
    virtual void clear();

    const C_Node* document() const { return &m_document; }
    bool trimWhitespace() const { return m_bTrim; }
    // Why the last load failed: 0 for no failure, 1 when the parser rejected
    // the file (or it could not be read), 2 or 3 when building the tree
    // failed inside a callback (standard error or any other). The text says
    // what happened.
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
    C_Node m_document;
    bool m_bTrim = false;
    int m_nLastStatus = 0;
    std::string m_sLastError;
};
