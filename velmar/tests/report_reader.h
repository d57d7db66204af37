#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <string>
#include <utility>
#include <vector>

namespace velmar::testing {

// The children of a report's "Exception" element, name and text, as a conforming parser reads
// the file; nullopt-like empty result with ok false when the file is not well-formed XML.
struct ReportRead {
    bool ok = false;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string Field(const std::string& name) const {
        for (const auto& [n, v] : fields) {
            if (n == name) return v;
        }
        return {};
    }
};

inline ReportRead ReadReportBytes(const std::string& bytes) {
    ReportRead out;
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "report.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return out;
    xmlNode* top = xmlDocGetRootElement(doc);
    out.ok = top && std::string(reinterpret_cast<const char*>(top->name)) == "xml";
    xmlNode* ex = top ? top->children : nullptr;
    if (ex && ex->type == XML_ELEMENT_NODE && !ex->next) {
        for (xmlNode* n = ex->children; n; n = n->next) {
            xmlChar* text = xmlNodeGetContent(n);
            out.fields.emplace_back(reinterpret_cast<const char*>(n->name),
                                    text ? reinterpret_cast<const char*>(text) : "");
            xmlFree(text);
        }
    } else {
        out.ok = false;
    }
    xmlFreeDoc(doc);
    return out;
}

}  // namespace velmar::testing
