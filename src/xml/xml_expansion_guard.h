// Keeps an expat parse to what the document itself holds.
//
// Internal entities let a few hundred bytes make the parser report
// gigabytes: an entity made of ten references to one made of ten references,
// and so on. Our expat is built without its own accounting for this, so two
// rules bound it here:
//  - an internal entity's replacement text may hold neither a reference nor
//    markup: each use then reports its text once and nothing nests
//    ("<!ENTITY co 'Acme'>" is fine);
//  - what the callbacks receive (texts, names, attribute values and a fixed
//    cost per element) may not exceed 100 times the bytes fed to the parser
//    plus 8 MiB. This stops the flat forms: many references to one
//    large entity, or many elements that each receive a large default
//    attribute.
// Breaking either stops the parser; the reader then refuses the document.
//
// Standard C++ and expat only, like the byte document that uses it.
#pragma once

#include <expat.h>

#include <cstddef>
#include <cstring>

class XmlExpansionGuard {
public:
    // What an element costs beyond its name and attribute bytes.
    static constexpr size_t kElementCost = 32;
    // The budget before any byte is fed: small documents may still use
    // a few plain entities freely.
    static constexpr unsigned long long kMinimumBudget = 8ULL << 20;

    XmlExpansionGuard() = default;
    XmlExpansionGuard(const XmlExpansionGuard&) = delete;
    XmlExpansionGuard& operator=(const XmlExpansionGuard&) = delete;

    // The parser to stop. Its entity-declaration handler is the reader's
    // (it receives the reader's user data) and forwards to entityDeclared.
    void attach(XML_Parser parser) { m_parser = parser; }

    // The parser is about to read this many bytes of the document.
    void feed(size_t bytes);
    // A callback received this many bytes; false, and the parser stopped,
    // once the budget is spent. Inline: it runs for every element and text.
    bool spend(size_t bytes)
    {
        if (m_reason == nullptr && bytes <= m_budget) {
            m_budget -= bytes;
            return true;
        }
        trip("the document expands to more than 100 times its size");
        return false;
    }
    // An element as the parser reports it: its name and attribute bytes
    // and kElementCost.
    bool spendElement(const XML_Char* name, const XML_Char** attributes)
    {
        size_t cost = kElementCost + (name != nullptr ? std::strlen(name) : 0);
        for (const XML_Char** p = attributes; p != nullptr && *p != nullptr; ++p)
            cost += std::strlen(*p);
        return spend(cost);
    }
    // An entity declaration as the parser reports it (value is null for an
    // external entity, which is never loaded).
    void entityDeclared(const XML_Char* value, int length);

    bool tripped() const { return m_reason != nullptr; }
    // Why the document was refused; empty when it was not.
    const char* reason() const { return m_reason != nullptr ? m_reason : ""; }

private:
    void trip(const char* reason);

    XML_Parser m_parser = nullptr;
    unsigned long long m_budget = kMinimumBudget;
    const char* m_reason = nullptr;
};
