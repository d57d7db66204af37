#include <libxml/tree.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/posix_file.h"
#include "settings/settings.h"
#include "velmar/errors.h"
#include "velmar/records.h"
#include "velmar/xml_text.h"

namespace tarvane {

namespace {

// Text as XML characters with its markup escaped (a CR as a reference, so it reads back).
std::string EscapeMarkup(const std::string& text) {
    const std::string characters = velmar::XmlCharacters(text);
    xmlChar* escaped = xmlEncodeSpecialChars(nullptr, BAD_CAST characters.c_str());
    if (!escaped) throw std::bad_alloc();
    std::string out(reinterpret_cast<const char*>(escaped));
    xmlFree(escaped);
    return out;
}

}  // namespace

// clang-format off
std::string SettingsFileText(int32_t severity, int32_t days, const std::string& excluded) {
    return "<xml>\r\n"
           " <GlobalSettings>\r\n"
           "  <Severity>" + std::to_string(severity) + "</Severity>\r\n"
           "  <DaysOfFilesRetained>" + std::to_string(days) + "</DaysOfFilesRetained>\r\n"
           "  <ExcludedClientIPs>" + EscapeMarkup(excluded) + "</ExcludedClientIPs>\r\n"
           " </GlobalSettings>\r\n"
           "</xml>\r\n";
}
// clang-format on

void SaveSettings(const tSettings& settings) {
    const std::string text = SettingsFileText(settings.Severity, settings.DaysOfFilesRetained,
                                              settings.ExcludedClientIPs);
    // Written beside the file and renamed over it, so the old file stays whole until the new one
    // is complete on disk.
    std::string temp = std::string(kFileName) + ".new-XXXXXX";
    if (const int err = WriteTempFile(temp, 0, text, true))
        throw velmar::EInOutError::FromErrno(err);
    if (::rename(temp.c_str(), kFileName) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw velmar::EInOutError::FromErrno(err);
    }
}

}  // namespace tarvane
