#include "settings/settings_parse.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <climits>
#include <mutex>
#include <string_view>

#include "settings/settings.h"
#include "velmar/errors.h"

namespace tarvane {

namespace {

// The first error the parser reports, with the source text where it stood.
struct ParseError {
    bool seen = false;
    std::string reason;
    int line = 0;
    std::string excerpt;

    void Take(std::string why, int at, const xmlParserCtxt* ctxt) {
        if (seen) return;
        seen = true;
        reason = std::move(why);
        while (!reason.empty() && static_cast<unsigned char>(reason.back()) <= ' ') {
            reason.pop_back();
        }
        line = at;
        if (!ctxt || !ctxt->input || !ctxt->input->cur || !ctxt->input->end) return;
        // Forty characters as the program's text shows them; input the parser could not decode
        // is still raw bytes here.
        const auto* p = reinterpret_cast<const char*>(ctxt->input->cur);
        const auto available = static_cast<size_t>(ctxt->input->end - ctxt->input->cur);
        const std::string text =
            velmar::XmlCharacters(std::string_view(p, std::min<size_t>(available, 160)));
        for (size_t i = 0, characters = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++characters > 40) break;
            excerpt += text[i];
        }
    }
};

void CollectError(void* data, xmlErrorPtr err) {
    // Prefixes nobody declared break the namespace rules, not XML 1.0.
    if (!err || err->level < XML_ERR_ERROR || err->domain == XML_FROM_NAMESPACE) return;
    static_cast<ParseError*>(data)->Take(err->message ? err->message : "", err->line,
                                         static_cast<const xmlParserCtxt*>(err->ctxt));
}

// What one load may cost. The parser checks each attribute against the ones before it in its
// start tag, and every element against its element's declared defaults, so both stay few; the
// tree (nodes and text from the file or copied from entities) stays at some ten megabytes. A
// settings file needs a handful of each.
constexpr size_t kMaxEqualSigns = 4096;
constexpr int kMaxEntityDeclarations = 1024;
constexpr int kMaxAttributeDeclarations = 64;
constexpr size_t kMaxNodes = 100000;
constexpr size_t kMaxTextBytes = 2u << 20;

// The parser's own hand-offs to the tree builder, each counted on its way.
struct ParseGuard {
    ParseError first;
    xmlSAXHandler tree{};  // the tree builder's handlers as the context had them
    size_t nodes = 0;
    size_t textBytes = 0;
    int entities = 0;
    int attributes = 0;
};

ParseGuard& GuardOf(void* ctx) {
    return *static_cast<ParseGuard*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

// Ends the parse with the reason as its first error; nothing of the file is quoted.
void Stop(void* ctx, const char* reason) {
    auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
    GuardOf(ctx).first.Take(reason, ctxt->input ? ctxt->input->line : 0, nullptr);
    xmlStopParser(ctxt);
}

// Counts nodes and text bytes against the limits; false, with the parse stopped, past them.
bool Count(void* ctx, size_t nodes, size_t textBytes = 0) {
    ParseGuard& g = GuardOf(ctx);
    g.nodes += nodes;
    g.textBytes += textBytes;
    if (g.nodes <= kMaxNodes && g.textBytes <= kMaxTextBytes) return true;
    Stop(ctx, g.nodes > kMaxNodes ? "The document has too many nodes"
                                  : "The document has too much text");
    return false;
}

// The nodes and text bytes of a list of siblings and all below them, attributes included.
void AddSubtree(const xmlNode* n, size_t& nodes, size_t& textBytes) {
    for (; n; n = n->next) {
        ++nodes;
        if (n->content) textBytes += static_cast<size_t>(xmlStrlen(n->content));
        if (n->type == XML_ELEMENT_NODE) {
            for (const xmlAttr* a = n->properties; a; a = a->next) {
                ++nodes;
                AddSubtree(a->children, nodes, textBytes);
            }
        }
        if (n->type != XML_ENTITY_REF_NODE) AddSubtree(n->children, nodes, textBytes);
    }
}

void GuardStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                       const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                       int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    if (!Count(ctx, 1 + static_cast<size_t>(nbAttributes) + static_cast<size_t>(nbDefaulted)))
        return;
    GuardOf(ctx).tree.startElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces,
                                     nbAttributes, nbDefaulted, attributes);
}

void GuardCharacters(void* ctx, const xmlChar* ch, int len) {
    if (Count(ctx, 1, static_cast<size_t>(len))) GuardOf(ctx).tree.characters(ctx, ch, len);
}

void GuardCdata(void* ctx, const xmlChar* value, int len) {
    if (Count(ctx, 1, static_cast<size_t>(len))) GuardOf(ctx).tree.cdataBlock(ctx, value, len);
}

void GuardComment(void* ctx, const xmlChar* value) {
    if (Count(ctx, 1, static_cast<size_t>(xmlStrlen(value)))) GuardOf(ctx).tree.comment(ctx, value);
}

void GuardInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    if (Count(ctx, 1, static_cast<size_t>(xmlStrlen(data)))) {
        GuardOf(ctx).tree.processingInstruction(ctx, target, data);
    }
}

void GuardEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                     const xmlChar* systemId, xmlChar* content) {
    if (++GuardOf(ctx).entities > kMaxEntityDeclarations) {
        Stop(ctx, "The document declares too many entities");
        return;
    }
    GuardOf(ctx).tree.entityDecl(ctx, name, type, publicId, systemId, content);
}

void GuardAttributeDecl(void* ctx, const xmlChar* element, const xmlChar* name, int type, int def,
                        const xmlChar* defaultValue, xmlEnumerationPtr tree) {
    if (++GuardOf(ctx).attributes > kMaxAttributeDeclarations) {
        xmlFreeEnumeration(tree);
        Stop(ctx, "The document declares too many attributes");
        return;
    }
    GuardOf(ctx).tree.attributeDecl(ctx, element, name, type, def, defaultValue, tree);
}

// A reference to an entity already parsed copies its tree without any of the calls above.
xmlEntityPtr GuardGetEntity(void* ctx, const xmlChar* name) {
    xmlEntityPtr entity = GuardOf(ctx).tree.getEntity(ctx, name);
    if (entity && entity->children) {
        size_t nodes = 0, textBytes = 0;
        AddSubtree(entity->children, nodes, textBytes);
        if (!Count(ctx, nodes, textBytes)) return nullptr;
    }
    return entity;
}

void Guard(xmlParserCtxt* ctxt, ParseGuard& guard) {
    guard.tree = *ctxt->sax;
    ctxt->_private = &guard;
    xmlSAXHandler& sax = *ctxt->sax;
    sax.startElementNs = GuardStartElement;
    sax.characters = GuardCharacters;
    sax.ignorableWhitespace = GuardCharacters;
    sax.cdataBlock = GuardCdata;
    sax.comment = GuardComment;
    sax.processingInstruction = GuardInstruction;
    sax.entityDecl = GuardEntityDecl;
    sax.attributeDecl = GuardAttributeDecl;
    sax.getEntity = GuardGetEntity;
    guard.tree.ignorableWhitespace = guard.tree.characters;
}

// Every attribute needs an equals sign, whatever the encoding spells it with (0x3D in the ASCII
// family and UTF-16/32, 0x7E in EBCDIC); UTF-7 can hide it in base64 and is not taken.
const char* TooCostly(const std::string& source) {
    size_t signs = 0;
    for (const char c : source) signs += c == '=' || c == '~';
    if (signs > kMaxEqualSigns) return "The document has too many attributes";
    std::string head;
    for (const char c : std::string_view(source).substr(0, 512)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            head += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    if (head.find("utf7") != std::string::npos) return "Unsupported encoding UTF-7";
    return nullptr;
}

// Neither a DTD nor an external entity is ever fetched, whatever the file names; a reference
// to one fails the load rather than reading as empty text.
xmlParserInputPtr RefuseExternal(const char* url, const char*, xmlParserCtxtPtr ctxt) {
    if (ctxt && ctxt->_private) {
        static_cast<ParseGuard*>(ctxt->_private)
            ->first.Take(std::string("External entity refused: ") + (url ? url : ""),
                         ctxt->input ? ctxt->input->line : 0, ctxt);
    }
    return nullptr;
}

void PrepareParser() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternal);
    });
}

std::string ParseFailureMessage(const std::string& reason, int line, const std::string& excerpt) {
    return reason + "\r\n" + "Line" + ": " + std::to_string(line) + "\r\n" + excerpt;
}

}  // namespace

velmar::XmlDoc ParseSettings(const std::string& source) {
    if (const char* reason = TooCostly(source)) {
        throw velmar::EDOMParseError(ParseFailureMessage(reason, 0, ""));
    }
    PrepareParser();
    ParseGuard guard;
    ParseError& first = guard.first;
    xmlStructuredErrorFunc previousHandler = xmlStructuredError;
    void* previousContext = xmlStructuredErrorContext;
    xmlSetStructuredErrorFunc(&first, CollectError);
    xmlDoc* doc = nullptr;
    if (xmlParserCtxt* ctxt = xmlNewParserCtxt()) {
        Guard(ctxt, guard);
        if (source.size() <= static_cast<size_t>(INT_MAX)) {
            doc = xmlCtxtReadMemory(ctxt, source.data(), static_cast<int>(source.size()), kFileName,
                                    nullptr, XML_PARSE_NOENT | XML_PARSE_NONET);
        }
        if (doc && !ctxt->wellFormed) {
            xmlFreeDoc(doc);
            doc = nullptr;
        }
        xmlFreeParserCtxt(ctxt);
    }
    xmlSetStructuredErrorFunc(previousContext, previousHandler);
    velmar::XmlDoc owned(doc);
    if (!owned || first.seen) {
        if (!first.seen) first.reason = "The document could not be parsed";
        throw velmar::EDOMParseError(ParseFailureMessage(first.reason, first.line, first.excerpt));
    }
    return owned;
}

}  // namespace tarvane
