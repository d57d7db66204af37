#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

namespace velmar {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
// A libxml2 document, freed with its owner.
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

// "#" and the byte's three octal digits: how a byte that cannot be shown or stored is written.
void AppendOctalEscape(std::string& out, unsigned char byte);

// The 8-bit text as XML 1.0 characters in UTF-8: a well-formed UTF-8 sequence stands for its
// character, any other byte reads as Latin-1, and each byte of a character that XML cannot carry
// is written as its octal escape. Markup is not escaped here.
std::string XmlCharacters(std::string_view text);

}  // namespace velmar
