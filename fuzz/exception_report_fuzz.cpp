// A failure record in: a report that parses, each text read back as the characters written.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "testsupport/temp_dir.h"
#include "velmar/exception_report.h"
#include "velmar/records.h"
#include "velmar/system.h"
#include "velmar/tests/report_reader.h"
#include "velmar/xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A failed report leaves its line in Exception.txt of the working directory.
    tarvane::testing::ProcessTempDir();
    // Fields are separated by byte 0xFF, which UTF-8 never holds.
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string fields[4];
    for (std::string& field : fields) {
        const size_t end = std::min(input.find('\xff'), input.size());
        field = input.substr(0, end);
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    velmar::tExceptionRec rec;
    rec.Function = fields[0];
    rec.ClassName = fields[1];
    rec.Message = fields[2];
    rec.Notes = fields[3];
    rec.Trace = static_cast<int32_t>(size);
    static const std::string name = "fuzz-report-" + std::to_string(::getpid()) + ".xml";
    rec.FileName = name;
    const std::string path = velmar::SaveExceptionRecAsXML(rec);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ::unlink(path.c_str());
    const velmar::testing::ReportRead read = velmar::testing::ReadReportBytes(bytes);
    if (!read.ok || read.fields.size() != 10 ||
        read.Field("Function") != velmar::XmlCharacters(rec.Function) ||
        read.Field("ClassName") != velmar::XmlCharacters(rec.ClassName) ||
        read.Field("e.Message") != velmar::XmlCharacters(rec.Message) ||
        read.Field("Notes") != velmar::XmlCharacters(rec.Notes)) {
        __builtin_trap();
    }
    return 0;
}
