#include "view/message_text.h"

#include <gtest/gtest.h>

#include <QString>
#include <string>

namespace tarvane {
namespace {

TEST(ViewTextFromBytes, ShowsUtf8AsUtf8AndTheRestAsLatin1) {
    struct Case {
        std::string bytes;
        QString text;
    } cases[] = {
        {"plain", QStringLiteral("plain")},
        {std::string("a\0b", 3), QString::fromUtf16(u"a\u0000b", 3)},
        {"caf\xC3\xA9", QStringLiteral("caf\u00E9")},
        {"\xE2\x82\xAC", QStringLiteral("\u20AC")},
        {"\xF0\x9F\x98\x80", QString::fromUcs4(U"\U0001F600")},
        // A BOM, at the start or before the message, is kept as the invisible U+FEFF.
        {"\xEF\xBB\xBFmsg", QStringLiteral("\uFEFFmsg")},
        {"<13>1 - - \xEF\xBB\xBFmsg", QStringLiteral("<13>1 - - \uFEFFmsg")},
        {"caf\xE9", QStringLiteral("caf\u00E9")},
        {"caf\xC3", QStringLiteral("caf\u00C3")},
        {"\xC0\xAF", QStringLiteral("\u00C0\u00AF")},
        {"\xED\xA0\x80", QStringLiteral("\u00ED\u00A0\u0080")},
        {"\xC3\xA9\xFF", QStringLiteral("\u00C3\u00A9\u00FF")},
        // Characters the text model would take as a break or a frame: one datagram, one line.
        {"a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c\xEF\xB7\x90"
         "d\xEF\xB7\x91",
         QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFD")},
    };
    for (const Case& c : cases) EXPECT_EQ(ViewTextFromBytes(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace tarvane
