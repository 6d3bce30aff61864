#include "c_xml.h"

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

namespace {

// The parser asks for this much at a time; it keeps what a token spanning two
// reads needs on its own.
constexpr int kReadSize = 4096;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ParserFree {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

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

// A white-space-only text of a node that also holds elements or CDATA is
// only indentation; with trimming on it goes.
void trimNode(const C_XML::C_ParseContext& ctx, C_XML::C_Node* node) {
    if (ctx.m_pDocument->trimWhitespace() && !node->m_bHasCdata &&
        C_XML::isWhitespace(node->m_sText.data(), node->m_sText.size())) {
        // Keeps the room for what follows.
        node->m_sText = std::string_view(node->m_sText.data(), 0);
    }
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

C_XML::C_XML() = default;

C_XML::~C_XML() = default;

void C_XML::setTrimWhitespace(bool on) { m_bTrim = on; }

void C_XML::clear() {
    m_document = C_Node();
    // Nothing refers to the arena any more.
    m_arena.release();
}

std::string_view C_XML::copyBytes(const char* data, size_t count) {
    if (count == 0) {
        return std::string_view();
    }
    char* copy = static_cast<char*>(m_arena.allocate(count, 1));
    std::memcpy(copy, data, count);
    return std::string_view(copy, count);
}

void C_XML::appendText(C_Node* node, const char* data, size_t count) {
    const size_t size = node->m_sText.size();
    if (count > node->m_nTextCapacity - size) {
        if (count > std::numeric_limits<size_t>::max() / 2 - size) {
            throw std::length_error("C_XML: text too long");
        }
        // Most texts arrive in one piece and get exactly their size; texts
        // that grow double, so appending stays linear.
        const size_t capacity = std::max(size + count, 2 * node->m_nTextCapacity);
        char* room = static_cast<char*>(m_arena.allocate(capacity, 1));
        if (size != 0) {
            std::memcpy(room, node->m_sText.data(), size);
        }
        node->m_sText = std::string_view(room, size);
        node->m_nTextCapacity = capacity;
    }
    // The text's bytes were allocated writable here; only the view is const.
    std::memcpy(const_cast<char*>(node->m_sText.data()) + size, data, count);
    node->m_sText = std::string_view(node->m_sText.data(), size + count);
}

bool C_XML::isWhitespace(const char* data, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char c = data[i];
        if (c != ' ' && c != '\r' && c != '\n' && c != '\t') {
            return false;
        }
    }
    return true;
}

bool C_XML::load(const std::string& path) {
    m_nLastStatus = 0;
    m_sLastError.clear();

    C_ParseContext ctx;
    ctx.m_pDocument = this;
    ctx.m_pCurrent = &m_document;

    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(nullptr));
    if (!parser) {
        m_nLastStatus = 1;
        m_sLastError = "cannot create the XML parser";
        return false;
    }
    XML_SetUserData(parser.get(), &ctx);
    XML_SetElementHandler(parser.get(), &C_XML::startElement, &C_XML::endElement);
    XML_SetCharacterDataHandler(parser.get(), &C_XML::characterData);
    XML_SetCdataSectionHandler(parser.get(), &C_XML::startCdataSection, &C_XML::endCdataSection);

    // A file that cannot be opened reads as empty, which the parser rejects.
    std::unique_ptr<std::FILE, FileCloser> file(openShared(path));

    bool parsed = true;
    auto noteParserError = [&]() {
        if (parsed) {
            parsed = false;
            m_nLastStatus = 1;
            const XML_Error code = XML_GetErrorCode(parser.get());
            const XML_LChar* text = XML_ErrorString(code);
            m_sLastError = text != nullptr ? text : "unknown parser error";
            m_sLastError += " at line " + std::to_string(XML_GetCurrentLineNumber(parser.get()));
            if (!file) {
                m_sLastError += " (cannot open the file)";
            }
        }
    };

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
        // parser simply keeps rejecting.
        if (XML_ParseBuffer(parser.get(), static_cast<int>(count), count == 0) != XML_STATUS_OK) {
            noteParserError();
        }
        if (count == 0) {
            break;
        }
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
    if (ctx == nullptr) {
        return;
    }
    try {
        ctx->m_bAfterEnd = false;
        C_Node* parentNode = ctx->m_pCurrent;
        trimNode(*ctx, parentNode);
        // Build the node whole before linking it in, so a failure leaves the
        // tree as it was.
        C_XML& doc = *ctx->m_pDocument;
        C_Node* node = new (doc.m_arena.allocate(sizeof(C_Node), alignof(C_Node))) C_Node();
        node->m_sName = name != nullptr ? doc.copyBytes(name, std::strlen(name)) : std::string_view();
        node->m_pParent = parentNode;
        if (attributes != nullptr && attributes[0] != nullptr) {
            size_t count = 0;
            while (attributes[2 * count] != nullptr) {
                ++count;
            }
            auto* list = static_cast<Attribute*>(doc.m_arena.allocate(count * sizeof(Attribute), alignof(Attribute)));
            for (size_t i = 0; i < count; ++i) {
                const XML_Char* value = attributes[2 * i + 1] != nullptr ? attributes[2 * i + 1] : "";
                new (&list[i]) Attribute(doc.copyBytes(attributes[2 * i], std::strlen(attributes[2 * i])),
                                         doc.copyBytes(value, std::strlen(value)));
            }
            node->m_vAttributes.m_pData = list;
            node->m_vAttributes.m_nCount = count;
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
    try {
        if (ctx->m_bAfterEnd) {
            trimNode(*ctx, ctx->m_pCurrent);
        }
        ctx->m_bAfterEnd = true;
        ctx->m_pCurrent = ctx->m_pCurrent->m_pParent;
    } catch (const std::exception& e) {
        recordFailure(ctx, &e, nullptr);
    } catch (...) {
        recordFailure(ctx, nullptr, "C_XML::endElement: Unknown exception.");
    }
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
        // The parser hands text over in pieces (it cuts at line ends); each
        // piece is judged on its own, so indentation after a child goes.
        const bool trim = ctx->m_pDocument->trimWhitespace();
        if (trim && ctx->m_bAfterEnd && !ctx->m_bInCdata && isWhitespace(data, static_cast<size_t>(count))) {
            return;
        }
        ctx->m_pDocument->appendText(node, data, static_cast<size_t>(count));
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
    try {
        trimNode(*ctx, ctx->m_pCurrent);
        ctx->m_bInCdata = true;
    } catch (const std::exception& e) {
        recordFailure(ctx, &e, nullptr);
    } catch (...) {
        recordFailure(ctx, nullptr, "C_XML::startCdataSection: Unknown exception.");
    }
}

void XMLCALL C_XML::endCdataSection(void* context) {
    C_ParseContext* ctx = contextOf(context);
    if (ctx == nullptr) {
        return;
    }
    try {
        ctx->m_bAfterEnd = true;
        ctx->m_bInCdata = false;
    } catch (const std::exception& e) {
        recordFailure(ctx, &e, nullptr);
    } catch (...) {
        recordFailure(ctx, nullptr, "C_XML::endCdataSection: Unknown exception.");
    }
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
        if (child->m_sName == name) {
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
        out->assign(node->m_sText.data(), node->m_sText.size());
    }
    return true;
}

bool C_XML::getAttribute(const C_Node* node, const std::string& name, std::string* out) {
    if (node == nullptr) {
        return false;
    }
    for (const auto& attribute : node->m_vAttributes) {
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
