// A small path language over C_XML documents: absolute or relative paths of
// element names and "*", each step with at most one attribute predicate
// ("[@name]" or "[@name='value']"). Compiled into a chain of step matchers;
// a walk hands every node that matches the whole path, in document order, to
// a collector until the collector says stop.
//
// Standard C++ only, like c_xml.h.
#pragma once

#include "c_xml.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class C_Found;

class C_XPath {
public:
    // One step of a path, or a step's predicate.
    class C_Match {
    public:
        explicit C_Match(const C_XPath* owner) : m_pOwner(owner) {}
        virtual ~C_Match() = default;
        C_Match(const C_Match&) = delete;
        C_Match& operator=(const C_Match&) = delete;

        virtual bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const = 0;
        // Where the test applies when this matcher is the next step: to the
        // same node, or to each child of the node.
        virtual int kind() const = 0;

        static constexpr int kSameNode = 3;
        static constexpr int kEachChild = 4;

        const C_XPath* m_pOwner;
        std::unique_ptr<C_Match> m_pPredicate;
    };

    C_XPath() = default;
    virtual ~C_XPath();
    C_XPath(const C_XPath&) = delete;
    C_XPath& operator=(const C_XPath&) = delete;

    // Builds the step list. Every input is accepted: what cannot be read as
    // a path ends it, and the rest is ignored. Always true.
    bool compile(const std::string& expression);
    // Evaluates the path from the document node; each whole-path match goes
    // to the collector, in document order, until it answers false.
    void walk(const C_XML& document, C_Found& found) const;

    size_t stepCount() const { return m_vSteps.size(); }
    const C_Match* step(size_t position) const {
        return position < m_vSteps.size() ? m_vSteps[position].get() : nullptr;
    }
    bool isLastStep(size_t position) const { return position + 1 == m_vSteps.size(); }

private:
    std::vector<std::unique_ptr<C_Match>> m_vSteps;  // first step first
};

// The document node (the only node without a parent).
class C_MatchRoot : public C_XPath::C_Match {
public:
    using C_Match::C_Match;
    bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const override;
    int kind() const override { return kEachChild; }
};

class C_MatchWild : public C_XPath::C_Match {
public:
    using C_Match::C_Match;
    bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const override;
    int kind() const override { return kEachChild; }
};

// An element name, byte for byte.
class C_MatchTag : public C_XPath::C_Match {
public:
    C_MatchTag(const C_XPath* owner, const std::string& tag) : C_Match(owner), m_sTag(tag) {}
    bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const override;
    int kind() const override { return kEachChild; }
    std::string m_sTag;
};

// The node has an attribute of that name.
class C_MatchAttr : public C_XPath::C_Match {
public:
    C_MatchAttr(const C_XPath* owner, const std::string& name) : C_Match(owner), m_sName(name) {}
    bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const override;
    int kind() const override { return kSameNode; }
    std::string m_sName;
};

// The node's first attribute of that name has that value, byte for byte.
class C_MatchAttrVal : public C_XPath::C_Match {
public:
    C_MatchAttrVal(const C_XPath* owner, const std::string& name, const std::string& value)
        : C_Match(owner), m_sName(name), m_sValue(value) {}
    bool match(const C_XML& document, const C_XML::C_Node* node, size_t position) const override;
    int kind() const override { return kSameNode; }
    std::string m_sName;
    std::string m_sValue;
};

// Receives the nodes that match a whole path; found answers true to go on.
class C_Found {
public:
    C_Found() = default;
    virtual ~C_Found() = default;
    C_Found(const C_Found&) = delete;
    C_Found& operator=(const C_Found&) = delete;
    virtual bool found(const C_XML& document, const C_XML::C_Node* node) = 0;
};

// A predicate holds: something matched.
class C_FoundPred : public C_Found {
public:
    bool found(const C_XML& document, const C_XML::C_Node* node) override;
    bool m_bHit = false;
};

// The first matching node.
class C_FoundNode : public C_Found {
public:
    bool found(const C_XML& document, const C_XML::C_Node* node) override;
    const C_XML::C_Node* m_pResult = nullptr;
};

// The first matching node's text, into the caller's string when given.
class C_FoundFirst : public C_Found {
public:
    explicit C_FoundFirst(std::string* out) : m_pOut(out) {}
    bool found(const C_XML& document, const C_XML::C_Node* node) override;
    std::string* m_pOut;
    bool m_bFound = false;
};

// One attribute of the first matching node. Found is set also when that node
// lacks the attribute; the caller's string is then left as it was.
class C_FoundFirstAttr : public C_Found {
public:
    C_FoundFirstAttr(const std::string& attribute, std::string* out) : m_sAttribute(attribute), m_pOut(out) {}
    bool found(const C_XML& document, const C_XML::C_Node* node) override;
    std::string m_sAttribute;
    std::string* m_pOut;
    bool m_bFound = false;
};
