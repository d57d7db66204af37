#include "exception_report.h"

#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/posix_file.h"
#include "logfiles/logfiles.h"
#include "velmar/errors.h"
#include "velmar/system.h"
#include "velmar/xml_text.h"

namespace velmar {

std::function<void()> ProcessMessagesHook;

namespace {

std::string Timestamp17(const tarvane::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%03d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100, t.millisecond % 1000);
    return buf;
}

std::string DateTimeText(const tarvane::LocalTime& t) {
    const std::string& sep = TimeSeparator();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d%s%02d%s%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, sep.c_str(), t.minute % 100, sep.c_str(),
                  t.second % 100);
    return buf;
}

xmlNode* AddElement(xmlDoc* doc, xmlNode* parent, const char* name) {
    xmlNode* n = xmlNewDocNode(doc, nullptr, BAD_CAST name, nullptr);
    if (n && !parent) {
        xmlDocSetRootElement(doc, n);
    } else if (n && !xmlAddChild(parent, n)) {
        xmlFreeNode(n);
        n = nullptr;
    }
    if (!n) throw Exception("Cannot append element " + std::string(name));
    return n;
}

// The text goes in as characters, so the report stays well-formed whatever bytes it holds.
void Append(xmlDoc* doc, xmlNode* parent, const char* name, const std::string& value) {
    xmlNode* n = AddElement(doc, parent, name);
    const std::string text = XmlCharacters(value);
    if (!text.empty() && !xmlAddChild(n, xmlNewDocTextLen(doc, BAD_CAST text.data(),
                                                          static_cast<int>(text.size())))) {
        throw Exception("Cannot append element " + std::string(name));
    }
}

// The element alone, UTF-8, without declaration or indentation.
std::string Serialize(xmlNode* top) {
    xmlBuffer* buffer = xmlBufferCreate();
    if (!buffer) throw std::bad_alloc();
    xmlSaveCtxt* save =
        xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_NO_EMPTY | XML_SAVE_AS_XML);
    const bool ok = save && xmlSaveTree(save, top) >= 0;
    if (save) xmlSaveClose(save);
    std::string out = ok ? std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                       static_cast<size_t>(xmlBufferLength(buffer)))
                         : std::string();
    xmlBufferFree(buffer);
    if (!ok) throw Exception("Cannot serialize the report");
    return out;
}

}  // namespace

std::string ExceptionReportName(const std::string& directory, const std::string& fileTemplate,
                                const tarvane::LocalTime& now) {
    const std::string stamp = Timestamp17(now);
    if (fileTemplate.empty()) return directory + "EXCEPTION-" + stamp + ".XML";
    std::string name = fileTemplate;
    if (const size_t at = name.find("{timestamp}"); at != std::string::npos) {
        name.replace(at, 11, stamp);
    }
    return directory + name;
}

int64_t MachineTicks() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

tMachineUpTime MachineUpTimeOf(int64_t ticks) {
    tMachineUpTime up;
    up.Ticks = ticks < 0 ? 0 : ticks;
    int64_t rest = up.Ticks;
    const int64_t weeks = rest / 604800000;
    rest -= weeks * 604800000;
    const int64_t days = rest / 86400000;
    rest -= days * 86400000;
    const int64_t hours = rest / 3600000;
    rest -= hours * 3600000;
    const int64_t minutes = rest / 60000;
    rest -= minutes * 60000;
    const int64_t seconds = rest / 1000;
    up.Text = std::to_string(weeks) + "w" + std::to_string(days) + "d" + std::to_string(hours) +
              "h" + std::to_string(minutes) + "m" + std::to_string(seconds) + "s";
    up.Days = static_cast<double>(weeks * 7 + days) + static_cast<double>(hours) / 24 +
              static_cast<double>(minutes) / 1440 + static_cast<double>(seconds) / 86400;
    return up;
}

tMachineUpTime GetMachineUpTime() { return MachineUpTimeOf(MachineTicks()); }

bool AppendDatedLine(const std::string& text, const std::string& fileName,
                     const tarvane::Clock& clock) {
    try {
        if (text.empty()) return tarvane::AppendTextToFile("", fileName, false);
        const tarvane::LocalTime now = clock.Now();
        std::string stamp = ShortDateText(now);
        if (now.hour != 0 || now.minute != 0 || now.second != 0) stamp += " " + LongTimeText(now);
        return tarvane::AppendTextToFile(stamp + ": " + text + "\r\n", fileName, true);
    } catch (...) {
        // Promised never to throw: it writes the report of a failure already being handled.
        return false;
    }
}

std::string SaveExceptionRecAsXML(tExceptionRec rec, const tarvane::Clock& clock) {
    int trace = 100;
    std::string fileName;
    try {
        if (ProcessMessagesHook) ProcessMessagesHook();
        trace = 200;
        const XmlDoc doc(xmlNewDoc(BAD_CAST "1.0"));
        if (!doc) throw std::bad_alloc();
        trace = 210;
        trace = 220;
        xmlNode* top = AddElement(doc.get(), nullptr, "xml");
        trace = 230;
        xmlNode* ex = AddElement(doc.get(), top, "Exception");
        trace = 300;
        Append(doc.get(), ex, "DateTime", DateTimeText(clock.Now()));
        trace = 305;
        Append(doc.get(), ex, "MachineUpTime", GetMachineUpTime().Text);
        trace = 310;
        Append(doc.get(), ex, "SelfName", GlobalSettings.SelfName);
        trace = 315;
        Append(doc.get(), ex, "Version", GlobalSettings.Version);
        trace = 320;
        Append(doc.get(), ex, "Function", rec.Function);
        trace = 325;
        Append(doc.get(), ex, "Trace", std::to_string(rec.Trace));
        trace = 330;
        Append(doc.get(), ex, "HostName", GlobalSettings.HostName);
        trace = 335;
        Append(doc.get(), ex, "ClassName", rec.ClassName);
        trace = 340;
        Append(doc.get(), ex, "e.Message", rec.Message);
        trace = 360;
        Append(doc.get(), ex, "Notes", rec.Notes);
        trace = 380;
        fileName = ExceptionReportName(GetProgramDir(), rec.FileName, clock.Now());
        trace = 420;
        if (const int err = tarvane::WriteNewFile(fileName, Serialize(top)); err != 0) {
            throw EInOutError::FromErrno(err);
        }
        trace = 440;
        trace = 460;
        // The alarm is never asked for here; a terminal bell would be its only stand-in.
        trace = 480;
    } catch (const std::exception& e) {
        AppendDatedLine("velmar.SaveExceptionRecAsXML LogRec.Trace=" + std::to_string(trace) +
                            " E.Message=" + e.what() + " sFileName=" + fileName + " ",
                        "Exception.txt", clock);
    } catch (...) {
        // A report is written from inside a catch: a failure of its own must not replace that one.
    }
    return fileName;
}

}  // namespace velmar
