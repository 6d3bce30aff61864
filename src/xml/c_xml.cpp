#include "c_xml.h"

#include "expat_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#ifdef _WIN32
#include <share.h>
#endif

// The tree is given back by releasing the arena, without running anything.
static_assert(std::is_trivially_destructible<C_XML::C_Node>::value, "nodes must own nothing");
// The tree's size is mostly nodes; keep them to one cache line.
static_assert(sizeof(void*) != 8 || sizeof(C_XML::C_Node) == 64, "node grew");

namespace {

// The parser asks for this much at a time; it keeps what a token spanning two
// reads needs on its own.
constexpr int kReadSize = 4096;


// Binary mode: expat does the XML line-end normalisation itself, and the C
// runtime's text mode would drop CRs and stop at a 0x1A byte inside UTF-16
// documents, which then fail to parse or lose their tail.
std::FILE* openShared(const std::string& path) {
    // A name with a NUL in it would open some other, shorter name.
    if (path.empty() || path.find('\0') != std::string::npos) {
        return nullptr;
    }
#ifdef _WIN32
    // Others may read and write the file while we read it.
    return _fsopen(path.c_str(), "rb", _SH_DENYNO);
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

// The tree's memory belongs to the document, so a context without one has
// nowhere to build.
C_XML::C_ParseContext* contextOf(void* context) {
    auto* ctx = static_cast<C_XML::C_ParseContext*>(context);
    return (ctx != nullptr && ctx->m_pCurrent != nullptr && ctx->m_pDocument != nullptr) ? ctx : nullptr;
}

void recordFailure(C_XML::C_ParseContext* ctx, const std::exception* error, const char* fixedMessage) noexcept {
    try {
        ctx->m_nStatus = error != nullptr ? 2 : 3;
        ctx->m_sError = error != nullptr ? error->what() : fixedMessage;
    } catch (...) {
        // Out of memory even for the message: the status alone tells it.
    }
}

}  // namespace

std::string_view C_XML::C_Text::view() const {
    return std::string_view(reinterpret_cast<const char*>(this + 1), m_nLength);
}

// An attribute record: the count, then name and value records in turn.
const C_XML::C_Text* const* C_XML::C_AttributeList::pairs() const {
    return reinterpret_cast<const C_Text* const*>(static_cast<const char*>(m_pRecord) + sizeof(size_t));
}

size_t C_XML::C_AttributeList::size() const {
    return m_pRecord != nullptr ? *static_cast<const size_t*>(m_pRecord) : 0;
}

C_XML::Attribute C_XML::C_AttributeList::operator[](size_t i) const { return *const_iterator(pairs() + 2 * i); }

C_XML::C_AttributeList::const_iterator C_XML::C_AttributeList::begin() const {
    return const_iterator(m_pRecord != nullptr ? pairs() : nullptr);
}

C_XML::C_AttributeList::const_iterator C_XML::C_AttributeList::end() const {
    return const_iterator(m_pRecord != nullptr ? pairs() + 2 * size() : nullptr);
}

C_XML::Attribute C_XML::C_AttributeList::const_iterator::operator*() const {
    return Attribute(m_pAt[0]->view(), m_pAt[1]->view());
}

C_XML::C_XML() = default;

C_XML::~C_XML() = default;

void C_XML::setTrimWhitespace(bool on) { m_bTrim = on; }

void C_XML::clear() {
    m_document = C_Node();
    std::fill(std::begin(m_aRecordCache), std::end(m_aRecordCache), nullptr);
    // Nothing refers to the arena any more.
    m_arena.release();
}

C_XML::C_Text* C_XML::record(const char* data, size_t count, bool shared) {
    if (count > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("C_XML: string too long");
    }
    const uint32_t length = static_cast<uint32_t>(count);
    size_t slot = 0;
    if (shared) {
        uint32_t hash = 2166136261u ^ length;
        for (size_t i = 0; i < count; ++i) {
            hash = (hash ^ static_cast<unsigned char>(data[i])) * 16777619u;
        }
        slot = hash % kCacheSlots;
        C_Text* cached = m_aRecordCache[slot];
        if (cached != nullptr && cached->m_nLength == length && std::memcmp(cached + 1, data, count) == 0) {
            return cached;
        }
    }
    void* memory = m_arena.allocate(sizeof(C_Text) + count, alignof(C_Text));
    C_Text* fresh = new (memory) C_Text{length, length};
    if (count != 0) {
        std::memcpy(fresh + 1, data, count);
    }
    if (shared) {
        m_aRecordCache[slot] = fresh;
    }
    return fresh;
}

void C_XML::appendText(C_Node* node, const char* data, size_t count) {
    if (count == 0) {
        return;
    }
    C_Text* text = node->m_pText;
    if (text == nullptr && count <= kSharedMax) {
        // A full record: a second piece will copy it before appending.
        node->m_pText = record(data, count, true);
        return;
    }
    const size_t length = text != nullptr ? text->m_nLength : 0;
    const size_t capacity = text != nullptr ? text->m_nCapacity : 0;
    if (count > capacity - length) {
        const size_t limit = std::numeric_limits<uint32_t>::max();
        if (count > limit - length) {
            throw std::length_error("C_XML: text too long");
        }
        // Most texts arrive in one piece and get exactly their size; texts
        // that grow double, so appending stays linear.
        const size_t room = std::min(limit, std::max(length + count, 2 * capacity));
        void* memory = m_arena.allocate(sizeof(C_Text) + room, alignof(C_Text));
        C_Text* grown = new (memory) C_Text{static_cast<uint32_t>(length), static_cast<uint32_t>(room)};
        if (length != 0) {
            std::memcpy(grown + 1, text + 1, length);
        }
        node->m_pText = text = grown;
    }
    std::memcpy(reinterpret_cast<char*>(text + 1) + length, data, count);
    text->m_nLength = static_cast<uint32_t>(length + count);
}

// A white-space-only text of a node that also holds elements or CDATA is
// only indentation; with trimming on it goes. The record may be shared, so
// it is let go rather than emptied.
void C_XML::trimText(C_Node* node) const {
    if (m_bTrim && !node->m_bHasCdata && node->m_pText != nullptr) {
        const std::string_view text = node->m_pText->view();
        size_t at = node->m_nBlankPrefix;
        while (at < text.size() && isWhitespace(text.data() + at, 1)) {
            ++at;
        }
        if (at == text.size()) {
            node->m_pText = nullptr;
            node->m_nBlankPrefix = 0;
        } else {
            // Stops at the first byte that is not white space: the next trim
            // finds it at once.
            node->m_nBlankPrefix = static_cast<uint32_t>(at);
        }
    }
}

bool C_XML::isWhitespace(const char* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!IsXmlBlank(static_cast<unsigned char>(data[i]))) {
            return false;
        }
    }
    return true;
}

// The parser cuts text where its reads end as well as at line ends, so the
// pieces are no guide: a line of blanks is indentation and goes with its
// line end; a line with text is kept whole, its line end not.
void C_XML::appendLines(C_ParseContext& ctx, const char* data, size_t count) {
    for (size_t at = 0; at <= count;) {
        const void* found = std::memchr(data + at, '\n', count - at);
        const size_t end = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - data) : count;
        if (ctx.m_bLineHasText || !isWhitespace(data + at, end - at)) {
            appendText(ctx.m_pCurrent, ctx.m_sBlankRun.data(), ctx.m_sBlankRun.size());
            appendText(ctx.m_pCurrent, data + at, end - at);
            ctx.m_sBlankRun.clear();
            ctx.m_bLineHasText = true;
        } else {
            ctx.m_sBlankRun.append(data + at, end - at);
        }
        if (found != nullptr) {
            ctx.setAfterEnd(true);
        }
        at = end + 1;
    }
}

bool C_XML::load(const std::string& path) {
    m_nLastStatus = 0;
    m_sLastError.clear();

    C_ParseContext ctx;
    ctx.m_pDocument = this;
    ctx.m_pCurrent = &m_document;

    UniqueXmlParser parser = CreateXmlParser();
    if (!parser) {
        m_nLastStatus = 1;
        m_sLastError = "cannot create the XML parser";
        return false;
    }
    XML_SetUserData(parser.get(), &ctx);
    ctx.m_parser = parser.get();
    XML_SetElementHandler(parser.get(), &C_XML::startElement, &C_XML::endElement);
    XML_SetCharacterDataHandler(parser.get(), &C_XML::characterData);
    XML_SetCdataSectionHandler(parser.get(), &C_XML::startCdataSection, &C_XML::endCdataSection);

    // A file that cannot be opened reads as empty, which the parser rejects.
    UniqueFile file(openShared(path));

    bool parsed = true;
    auto noteParserError = [&]() {
        if (parsed) {
            parsed = false;
            const XML_Error code = XML_GetErrorCode(parser.get());
            // An entity bomb is told apart from a document that is not XML.
            const bool expands = code == XML_ERROR_AMPLIFICATION_LIMIT_BREACH || ctx.m_defaults.Broken();
            m_nLastStatus = expands ? 4 : 1;
            const XML_LChar* text = XML_ErrorString(code);
            m_sLastError = ctx.m_defaults.Broken() ? ctx.m_defaults.Refusal()
                                                   : (text != nullptr ? text : "unknown parser error");
            m_sLastError += " at line " + std::to_string(XML_GetCurrentLineNumber(parser.get()));
            if (!file) {
                m_sLastError += " (cannot open the file)";
            }
        }
    };

    unsigned long long total = 0;
    for (;;) {
        void* buffer = XML_GetBuffer(parser.get(), kReadSize);
        if (buffer == nullptr) {
            noteParserError();
            break;
        }
        size_t count = 0;
        if (file) {
            count = std::fread(buffer, 1, kReadSize, file.get());
            if (count == 0 && std::ferror(file.get())) {
                parsed = false;
                m_nLastStatus = 1;
                m_sLastError = "read error";
            }
        }
        // Reading goes on to the end of the file after a parser error: the
        // parser simply keeps rejecting. Past the limit it is read only to
        // learn its size.
        total += count;
        if (total > kXmlMaximumFileBytes) {
            parsed = false;
            m_nLastStatus = 1;
        } else if (XML_ParseBuffer(parser.get(), static_cast<int>(count), count == 0) != XML_STATUS_OK) {
            noteParserError();
        }
        if (count == 0) {
            break;
        }
    }
    if (total > kXmlMaximumFileBytes) {
        m_sLastError = "the file has " + std::to_string(total) + " bytes, more than the " +
                       std::to_string(kXmlMaximumFileBytes) + " a package definition may have";
    }

    if (ctx.m_nStatus != 0) {
        // The tree misses what a callback could not build; the file did not
        // load whole, whatever the parser thought of it.
        if (m_nLastStatus == 0) {
            m_nLastStatus = ctx.m_nStatus;
            m_sLastError = ctx.m_sError;
        }
        return false;
    }
    return parsed;
}

void XMLCALL C_XML::startElement(void* context, const XML_Char* name, const XML_Char** attributes) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr || (ctx->m_parser != nullptr && !ctx->m_defaults.Add(ctx->m_parser, attributes))) {
        return;
    }
    try {
        ctx->setAfterEnd(false);
        C_Node* parentNode = ctx->m_pCurrent;
        C_XML& doc = *ctx->m_pDocument;
        doc.trimText(parentNode);
        // Build the node whole before linking it in, so a failure leaves the
        // tree as it was.
        C_Node* node = new (doc.m_arena.allocate(sizeof(C_Node), alignof(C_Node))) C_Node();
        if (name != nullptr && name[0] != 0) {
            node->m_pName = doc.record(name, std::strlen(name), true);
        }
        node->m_pParent = parentNode;
        if (attributes != nullptr && attributes[0] != nullptr) {
            size_t count = 0;
            while (attributes[2 * count] != nullptr) {
                ++count;
            }
            char* memory = static_cast<char*>(
                doc.m_arena.allocate(sizeof(size_t) + 2 * count * sizeof(const C_Text*), alignof(size_t)));
            new (memory) size_t(count);
            auto* slots = reinterpret_cast<const C_Text**>(memory + sizeof(size_t));
            for (size_t i = 0; i < 2 * count; ++i) {
                const XML_Char* bytes = attributes[i] != nullptr ? attributes[i] : "";
                const size_t length = std::strlen(bytes);
                // Names always, values when short: those are the ones that repeat.
                new (&slots[i]) const C_Text*(doc.record(bytes, length, i % 2 == 0 || length <= kSharedMax));
            }
            node->m_pAttributes = memory;
        }
        if (parentNode->m_pLastChild != nullptr) {
            parentNode->m_pLastChild->m_pNextSibling = node;
        } else {
            parentNode->m_pFirstChild = node;
        }
        parentNode->m_pLastChild = node;
        ctx->m_pCurrent = node;
    } catch (const std::exception& e) {
        recordFailure(ctx, &e, nullptr);
    } catch (...) {
        recordFailure(ctx, nullptr, "C_XML::startElement: Unknown exception.");
    }
}

void XMLCALL C_XML::endElement(void* context, const XML_Char* /*name*/) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr) {
        return;
    }
    if (ctx->m_bAfterEnd) {
        ctx->m_pDocument->trimText(ctx->m_pCurrent);
    }
    ctx->setAfterEnd(true);
    ctx->m_pCurrent = ctx->m_pCurrent->m_pParent;
}

void XMLCALL C_XML::characterData(void* context, const XML_Char* data, int count) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr || data == nullptr || count <= 0) {
        return;
    }
    try {
        C_Node* node = ctx->m_pCurrent;
        if (ctx->m_bInCdata) {
            node->m_bHasCdata = true;
        }
        if (ctx->m_pDocument->trimWhitespace() && ctx->m_bAfterEnd && !ctx->m_bInCdata) {
            ctx->m_pDocument->appendLines(*ctx, data, static_cast<size_t>(count));
        } else {
            ctx->m_pDocument->appendText(node, data, static_cast<size_t>(count));
        }
    } catch (const std::exception& e) {
        recordFailure(ctx, &e, nullptr);
    } catch (...) {
        recordFailure(ctx, nullptr, "C_XML::characterData: Unknown exception.");
    }
}

void XMLCALL C_XML::startCdataSection(void* context) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr) {
        return;
    }
    ctx->m_pDocument->trimText(ctx->m_pCurrent);
    ctx->m_bInCdata = true;
}

void XMLCALL C_XML::endCdataSection(void* context) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr) {
        return;
    }
    ctx->setAfterEnd(true);
    ctx->m_bInCdata = false;
}

const C_XML::C_Node* C_XML::firstChild(const C_Node* node) { return node != nullptr ? node->m_pFirstChild : nullptr; }

const C_XML::C_Node* C_XML::nextSibling(const C_Node* node) {
    // The document node has no parent and so no siblings; its link stays null.
    return node != nullptr ? node->m_pNextSibling : nullptr;
}

const C_XML::C_Node* C_XML::parent(const C_Node* node) { return node != nullptr ? node->m_pParent : nullptr; }

const C_XML::C_Node* C_XML::findChild(const C_Node* node, const std::string& name) {
    if (node == nullptr) {
        return nullptr;
    }
    for (const C_Node* child = node->m_pFirstChild; child != nullptr; child = child->m_pNextSibling) {
        if (child->name() == name) {
            return child;
        }
    }
    return nullptr;
}

bool C_XML::getText(const C_Node* node, std::string* out) {
    if (node == nullptr) {
        return false;
    }
    if (out != nullptr) {
        const std::string_view text = node->text();
        out->assign(text.data(), text.size());
    }
    return true;
}

bool C_XML::getAttribute(const C_Node* node, const std::string& name, std::string* out) {
    if (node == nullptr) {
        return false;
    }
    for (const Attribute attribute : node->attributes()) {
        if (attribute.first == name) {
            if (out != nullptr) {
                out->assign(attribute.second.data(), attribute.second.size());
            }
            return true;
        }
    }
    return false;
}

bool C_XML::getAttribute(const C_Node* node, const char* name, std::string* out) {
    if (name == nullptr) {
        return false;
    }
    return getAttribute(node, std::string(name), out);
}

bool C_XML::hasCdata(const C_Node* node) { return node != nullptr && node->m_bHasCdata; }
