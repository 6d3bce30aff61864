#include "c_xpath.h"

#include <deque>
#include <string_view>

namespace {

// Reads an expression as a character stream; -1 stands for its end.
class Reader {
public:
    explicit Reader(const std::string& text) : m_sText(text) {}

    bool atEnd() const { return m_nPos >= m_sText.size(); }
    int peek() const { return atEnd() ? -1 : static_cast<unsigned char>(m_sText[m_nPos]); }
    int get() { return atEnd() ? -1 : static_cast<unsigned char>(m_sText[m_nPos++]); }

    // White space as the C runtime classes it in the default locale.
    void skipBlanks() {
        while (!atEnd()) {
            const char c = m_sText[m_nPos];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') {
                break;
            }
            ++m_nPos;
        }
    }

private:
    const std::string& m_sText;
    size_t m_nPos = 0;
};

// ASCII letters and digits (what the C runtime's classes give in the default
// locale) and "_", "-", ".". Any other byte, a UTF-8 lead byte included,
// ends a name.
bool isNameChar(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// The first character is taken whatever it is, so a stray "/" or "[" becomes
// part of a name that matches nothing; at the end of the expression the name
// is a single blank.
std::string readName(Reader& in) {
    in.skipBlanks();
    std::string name;
    const int first = in.get();
    name += first < 0 ? ' ' : static_cast<char>(first);
    while (isNameChar(in.peek())) {
        name += static_cast<char>(in.get());
    }
    return name;
}

// The first character delimits the value, whatever it is; a missing closing
// delimiter takes the value to the end of the expression.
std::string readQuoted(Reader& in) {
    in.skipBlanks();
    std::string value;
    const int delimiter = in.get();
    if (delimiter < 0) {
        return value;
    }
    while (!in.atEnd() && in.peek() != delimiter) {
        value += static_cast<char>(in.get());
    }
    in.get();  // the closing delimiter, when there is one
    return value;
}

// "[", "@", name, optionally "=" and a quoted value, "]". The bracket and the
// at sign are taken on trust: any character stands in for them.
std::unique_ptr<C_XPath::C_Match> readPredicate(Reader& in, const C_XPath* owner) {
    in.skipBlanks();
    in.get();
    in.skipBlanks();
    in.get();
    const std::string name = readName(in);
    in.skipBlanks();
    std::unique_ptr<C_XPath::C_Match> predicate;
    if (in.peek() == '=') {
        in.get();
        const std::string value = readQuoted(in);
        predicate = std::make_unique<C_MatchAttrVal>(owner, name, value);
    } else {
        predicate = std::make_unique<C_MatchAttr>(owner, name);
    }
    in.skipBlanks();
    in.get();
    return predicate;
}

std::unique_ptr<C_XPath::C_Match> readStep(Reader& in, const C_XPath* owner) {
    in.skipBlanks();
    std::unique_ptr<C_XPath::C_Match> step;
    if (in.peek() == '*') {
        in.get();
        step = std::make_unique<C_MatchWild>(owner);
    } else {
        step = std::make_unique<C_MatchTag>(owner, readName(in));
    }
    in.skipBlanks();
    if (in.peek() == '[') {
        step->m_pPredicate = readPredicate(in, owner);
    }
    return step;
}

}  // namespace

C_XPath::~C_XPath() = default;

bool C_XPath::compile(const std::string& expression) {
    m_vSteps.clear();
    Reader in(expression);
    in.skipBlanks();
    if (in.peek() == '/') {
        in.get();
        m_vSteps.push_back(std::make_unique<C_MatchRoot>(this));
        in.skipBlanks();
        if (in.atEnd()) {
            return true;
        }
    }
    // Steps separated by "/"; whatever else follows a step ends the path.
    for (;;) {
        m_vSteps.push_back(readStep(in, this));
        in.skipBlanks();
        if (in.peek() != '/') {
            break;
        }
        in.get();
    }
    return true;
}

// The walk of one step on one node:
//   1. the step does not match the node: go on (true);
//   2. the step has a predicate: walk the predicate as a step on the same
//      node and position with a fresh C_FoundPred (so it also needs the rest
//      of the path to match below the node); no hit: go on;
//   3. the last step: the collector decides;
//   4. otherwise the next step, on the same node (kind 3) or on each child
//      in turn until one says stop (kind 4).
// Done with an explicit stack rather than recursion, so a path of any length
// cannot exhaust the machine stack.
void C_XPath::walk(const C_XML& document, C_Found& found) const {
    if (m_vSteps.empty()) {
        return;
    }
    enum State { kStart, kAfterPredicate, kAfterSameNode, kChildren };
    struct Frame {
        Frame(const C_Match* m, size_t p, const C_XML::C_Node* n, C_Found* f)
            : matcher(m), position(p), node(n), collector(f) {}
        const C_Match* matcher;
        size_t position;
        const C_XML::C_Node* node;
        C_Found* collector;
        State state = kStart;
        const C_XML::C_Node* nextChild = nullptr;
        C_FoundPred predicate;
    };
    // A deque keeps the frames in place as it grows, so a frame's
    // C_FoundPred can serve as the collector of the frames above it.
    std::deque<Frame> stack;
    stack.emplace_back(m_vSteps[0].get(), 0, document.document(), &found);
    bool result = true;  // what the frame popped last returned

    auto finish = [&](bool value) {
        result = value;
        stack.pop_back();
    };

    while (!stack.empty()) {
        Frame& frame = stack.back();
        switch (frame.state) {
            case kStart:
                if (!frame.matcher->match(document, frame.node, frame.position)) {
                    finish(true);
                    continue;
                }
                if (frame.matcher->m_pPredicate) {
                    frame.state = kAfterPredicate;
                    stack.emplace_back(frame.matcher->m_pPredicate.get(), frame.position, frame.node,
                                       &frame.predicate);
                    continue;
                }
                break;
            case kAfterPredicate:
                if (!frame.predicate.m_bHit) {
                    finish(true);
                    continue;
                }
                break;
            case kAfterSameNode:
                finish(result);
                continue;
            case kChildren:
                if (!result) {
                    finish(false);
                    continue;
                }
                if (frame.nextChild == nullptr) {
                    finish(true);
                    continue;
                }
                {
                    const C_XML::C_Node* child = frame.nextChild;
                    frame.nextChild = C_XML::nextSibling(child);
                    stack.emplace_back(m_vSteps[frame.position + 1].get(), frame.position + 1, child,
                                       frame.collector);
                }
                continue;
        }

        // The node passed this step and its predicate.
        if (isLastStep(frame.position)) {
            finish(frame.collector->found(document, frame.node));
            continue;
        }
        const C_Match* next = m_vSteps[frame.position + 1].get();
        switch (next->kind()) {
            case C_Match::kSameNode:
                frame.state = kAfterSameNode;
                stack.emplace_back(next, frame.position + 1, frame.node, frame.collector);
                break;
            case C_Match::kEachChild:
                frame.state = kChildren;
                frame.nextChild = C_XML::firstChild(frame.node);
                result = true;
                break;
            default:
                finish(false);
                break;
        }
    }
}

bool C_MatchRoot::match(const C_XML&, const C_XML::C_Node* node, size_t) const {
    return node != nullptr && node->parent() == nullptr;
}

bool C_MatchWild::match(const C_XML&, const C_XML::C_Node*, size_t) const { return true; }

bool C_MatchTag::match(const C_XML&, const C_XML::C_Node* node, size_t) const {
    return node != nullptr && node->name() == m_sTag;
}

bool C_MatchAttr::match(const C_XML&, const C_XML::C_Node* node, size_t) const {
    return C_XML::getAttribute(node, m_sName);
}

bool C_MatchAttrVal::match(const C_XML&, const C_XML::C_Node* node, size_t) const {
    std::string value;
    return C_XML::getAttribute(node, m_sName, &value) && value == m_sValue;
}

bool C_FoundPred::found(const C_XML&, const C_XML::C_Node*) {
    m_bHit = true;
    return true;
}

bool C_FoundNode::found(const C_XML&, const C_XML::C_Node* node) {
    m_pResult = node;
    return false;
}

bool C_FoundFirst::found(const C_XML&, const C_XML::C_Node* node) {
    C_XML::getText(node, m_pOut);
    m_bFound = true;
    return false;
}

bool C_FoundFirstAttr::found(const C_XML&, const C_XML::C_Node* node) {
    C_XML::getAttribute(node, m_sAttribute, m_pOut);
    m_bFound = true;
    return false;
}

const C_XML::C_Node* C_XML::selectNode(const std::string& path) const {
    C_XPath xpath;
    xpath.compile(path);
    C_FoundNode found;
    xpath.walk(*this, found);
    return found.m_pResult;
}

bool C_XML::selectText(const std::string& path, std::string& out) const {
    C_XPath xpath;
    xpath.compile(path);
    C_FoundFirst found(&out);
    xpath.walk(*this, found);
    return found.m_bFound;
}

bool C_XML::selectAttribute(const std::string& path, const std::string& attribute, std::string& out) const {
    C_XPath xpath;
    xpath.compile(path);
    C_FoundFirstAttr found(attribute, &out);
    xpath.walk(*this, found);
    return found.m_bFound;
}
