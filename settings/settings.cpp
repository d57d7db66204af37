#include "settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <pugixml.hpp>
#include <string_view>

#include "logfiles/logfiles.h"
#include "velmar/errors.h"
#include "velmar/event_log.h"
#include "velmar/exception_report.h"
#include "velmar/int_syntax.h"
#include "velmar/records.h"

namespace tarvane {

tSettings Settings;

namespace {

std::string EscapeMarkup(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

// The first element child of that name; a missing one reads as present and empty.
pugi::xml_node Child(pugi::xml_node parent, const char* name) {
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && std::string_view(n.name()) == name) return n;
    }
    return parent.append_child(name);
}

std::string TextOf(pugi::xml_node element) {
    pugi::xml_node first = element.first_child();
    if (!first) return "";
    if (first.next_sibling() ||
        (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata)) {
        throw velmar::EXMLDocError("Element does not contain a single text node");
    }
    return first.value();
}

std::string ParseFailureMessage(const char* reason, ptrdiff_t at, const std::string& source) {
    const size_t offset = std::min(static_cast<size_t>(std::max<ptrdiff_t>(at, 0)), source.size());
    int line = 1;
    for (size_t i = 0; i < offset; ++i) line += source[i] == '\n';
    return std::string(reason) + "\r\n" + "Line" + ": " + std::to_string(line) + "\r\n" +
           source.substr(offset, 40);
}

// The parser reads fragments so that text beside the document element is seen; XML allows
// exactly one element and no text at the top level.
void RequireOneDocumentElement(const pugi::xml_document& doc, const std::string& source) {
    pugi::xml_node element;
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
            // The text node's blanks before the first character are no part of the fault.
            ptrdiff_t at = n.offset_debug();
            while (at >= 0 && static_cast<size_t>(at) < source.size() &&
                   std::isspace(static_cast<unsigned char>(source[static_cast<size_t>(at)]))) {
                ++at;
            }
            throw velmar::EDOMParseError(ParseFailureMessage(
                "Text is not allowed at the top level of the document", at, source));
        }
        if (n.type() != pugi::node_element) continue;
        if (element) {
            throw velmar::EDOMParseError(ParseFailureMessage(
                "Only one top level element is allowed", n.offset_debug() - 1, source));
        }
        element = n;
    }
    if (!element) {
        throw velmar::EDOMParseError(ParseFailureMessage(
            "No document element found", static_cast<ptrdiff_t>(source.size()), source));
    }
}

std::string OneLine(const std::string& message) {
    std::string out;
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
            out += ' ';
            ++i;
        } else {
            out += message[i];
        }
    }
    return out;
}

void LoadFile(int32_t& progress) {
    progress = 200;
    progress = 210;
    std::string source;
    if (ReadRegularFile(kFileName, source) != 0) {
        throw velmar::EDOMParseError("The system cannot open the file.\r\nLine: 0\r\n");
    }
    pugi::xml_document doc;
    // Comments and instructions are kept so that a value holding one is refused, not misread;
    // no DTD is read and no entity beyond the predefined ones is expanded.
    const pugi::xml_parse_result result = doc.load_buffer(
        source.data(), source.size(),
        pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment,
        pugi::encoding_utf8);
    if (!result) {
        throw velmar::EDOMParseError(
            ParseFailureMessage(result.description(), result.offset, source));
    }
    RequireOneDocumentElement(doc, source);
    progress = 300;
    pugi::xml_node top = doc.document_element();
    if (std::string_view(top.name()) != "xml") {
        throw velmar::EOleException("Only one top level element is allowed in an XML document");
    }
    progress = 310;
    pugi::xml_node global = Child(top, "GlobalSettings");
    Settings.Severity = velmar::StrToIntOrZero(TextOf(Child(global, "Severity")));
    velmar::GlobalSettings.Log.DaysOfFilesRetained =
        velmar::StrToIntOrZero(TextOf(Child(global, "DaysOfFilesRetained")));
    Settings.ExcludedClientIPs = TextOf(Child(global, "ExcludedClientIPs"));
}

void Report(const std::exception& e, int32_t progress) {
    const std::string className = velmar::ClassNameOf(e);
    const std::string message = e.what();
    velmar::tExceptionRec rec;
    rec.Function = "Lib.GetSettings";
    rec.ClassName = className;
    rec.Message = message;
    rec.Trace = progress;
    rec.Notes = "kFileName=Tarvane.xml";
    rec.Beep = false;
    rec.FileName = velmar::SaveExceptionRecAsXML(rec);

    velmar::tLogRec entry;
    entry.Code = 30000;
    entry.Trace = progress;
    entry.Text = "[Function=Lib.GetSettings][Version=" + velmar::GlobalSettings.Version + "]" +
                 "[ClassName=" + className + "]" + "[Message=" + OneLine(message) + "]" +
                 "[Trace=" + std::to_string(progress) + "]" + "[FileName=" + rec.FileName + "]" +
                 "[CoInitializeCount=" +
                 std::to_string(velmar::GlobalSettings.CoInitializeCount) + "]" +
                 "[Notes=kFileName=Tarvane.xml]";
    std::string csvName;
    velmar::LogEntry(entry, csvName);
}

}  // namespace

std::string SettingsFileText(int32_t severity, int32_t days, const std::string& excluded) {
    return "<xml>\r\n"
           " <GlobalSettings>\r\n"
           "  <Severity>" + std::to_string(severity) + "</Severity>\r\n"
           "  <DaysOfFilesRetained>" + std::to_string(days) + "</DaysOfFilesRetained>\r\n"
           "  <ExcludedClientIPs>" + EscapeMarkup(excluded) + "</ExcludedClientIPs>\r\n"
           " </GlobalSettings>\r\n"
           "</xml>\r\n";
}

bool GetSettings() {
    int32_t progress = 100;
    bool ok = true;
    ++velmar::GlobalSettings.CoInitializeCount;
    try {
        if (!FileExists(kFileName)) {
            Settings.Severity = 7;
            Settings.ExcludedClientIPs.clear();
            velmar::GlobalSettings.Log.DaysOfFilesRetained = 7;
            SaveSettings();
        }
        if (FileExists(kFileName)) LoadFile(progress);
    } catch (const std::exception& e) {
        ok = false;
        try {
            Report(e, progress);
        } catch (...) {
        }
    }
    --velmar::GlobalSettings.CoInitializeCount;
    return ok;
}

void SaveSettings() {
    const std::string text = SettingsFileText(
        Settings.Severity, velmar::GlobalSettings.Log.DaysOfFilesRetained,
        Settings.ExcludedClientIPs);
    // Written beside the file and renamed over it, so the old file stays whole until the new one
    // is complete on disk.
    std::string temp = std::string(kFileName) + ".new-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw velmar::EInOutError::FromErrno(errno);
    int err = 0;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) err = errno;
    if (err == 0) err = WriteAll(fd, text);
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), kFileName) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        throw velmar::EInOutError::FromErrno(err);
    }
}

namespace {

// Only "*" and "?" are wildcards; brackets and backslashes are plain characters of a name, and a
// leading dot needs no match of its own.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

void DeleteMatchingFiles(const std::string& mask) {
    const size_t slash = mask.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : mask.substr(0, slash + 1);
    const std::string pattern = slash == std::string::npos ? mask : mask.substr(slash + 1);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        if (!WildcardMatch(pattern, e->d_name)) continue;
        const std::string path = dir + e->d_name;
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(d);
}

}  // namespace tarvane
