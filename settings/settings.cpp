#include "settings.h"

#include <libxml/tree.h>

#include <string_view>

#include "base/posix_file.h"
#include "settings/settings_parse.h"
#include "velmar/errors.h"
#include "velmar/event_log.h"
#include "velmar/exception_report.h"
#include "velmar/int_syntax.h"
#include "velmar/records.h"
#include "velmar/system.h"

namespace tarvane {

namespace {

// The event log's retention follows the user's from the moment the days are stored, so a failure
// later in the same load is logged under them.
void StoreDays(tSettings& settings, int32_t days) {
    settings.DaysOfFilesRetained = days;
    velmar::GlobalSettings.Log.DaysOfFilesRetained = days;
}

// The element's name as written, prefix included.
bool HasName(const xmlNode* n, std::string_view name) {
    const std::string_view local = reinterpret_cast<const char*>(n->name);
    if (!n->ns || !n->ns->prefix) return local == name;
    const std::string_view prefix = reinterpret_cast<const char*>(n->ns->prefix);
    return name.size() == prefix.size() + 1 + local.size() && name.starts_with(prefix) &&
           name[prefix.size()] == ':' && name.ends_with(local);
}

// The first element child of that name; a missing one reads as present and empty.
xmlNode* Child(xmlNode* parent, const char* name) {
    for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE && HasName(n, name)) return n;
    }
    return nullptr;
}

std::string TextOf(xmlNode* element) {
    xmlNode* first = element ? element->children : nullptr;
    if (!first) return "";
    if (first->next || (first->type != XML_TEXT_NODE && first->type != XML_CDATA_SECTION_NODE)) {
        throw velmar::EXMLDocError("Element does not contain a single text node");
    }
    return first->content ? reinterpret_cast<const char*>(first->content) : "";
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

void LoadFile(int32_t& progress, tSettings& settings) {
    progress = 200;
    progress = 210;
    std::string source;
    if (ReadRegularFile(kFileName, source, kMaxSettingsBytes) != 0) {
        throw velmar::EDOMParseError("The system cannot open the file.\r\nLine: 0\r\n");
    }
    ReadSettingsBytes(source, progress, settings);
}

}  // namespace

void ReadSettingsBytes(const std::string& source, int32_t& progress, tSettings& settings) {
    const auto doc = ParseSettings(source);
    progress = 300;
    xmlNode* top = xmlDocGetRootElement(doc.get());
    if (!top || !HasName(top, "xml")) {
        throw velmar::EOleException("Only one top level element is allowed in an XML document");
    }
    progress = 310;
    xmlNode* global = Child(top, "GlobalSettings");
    settings.Severity = velmar::StrToIntOrZero(TextOf(Child(global, "Severity")));
    StoreDays(settings, velmar::StrToIntOrZero(TextOf(Child(global, "DaysOfFilesRetained"))));
    settings.ExcludedClientIPs = TextOf(Child(global, "ExcludedClientIPs"));
}

namespace {

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
                 "[CoInitializeCount=" + std::to_string(velmar::GlobalSettings.CoInitializeCount) +
                 "]" + "[Notes=kFileName=Tarvane.xml]";
    std::string csvName;
    velmar::LogEntry(entry, csvName);
    // A service has no window to look at: the failure also goes where its admin looks.
    velmar::TellError(std::string(kFileName) + " could not be loaded (" + className + ": " +
                      OneLine(message) + "); the report is " + rec.FileName);
}

}  // namespace

bool GetSettings(tSettings& settings) {
    int32_t progress = 100;
    bool ok = true;
    ++velmar::GlobalSettings.CoInitializeCount;
    try {
        if (!FileExists(kFileName)) {
            settings.Severity = 7;
            settings.ExcludedClientIPs.clear();
            StoreDays(settings, 7);
            SaveSettings(settings);
        }
        if (FileExists(kFileName)) LoadFile(progress, settings);
    } catch (const std::exception& e) {
        ok = false;
        try {
            Report(e, progress);
        } catch (...) {
            // Promised never to throw: the load's failure is told by the false already.
        }
    }
    --velmar::GlobalSettings.CoInitializeCount;
    return ok;
}

}  // namespace tarvane
