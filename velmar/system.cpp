#include "system.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <string_view>

namespace velmar {

std::string ProgramFilePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string ProgramDirOf(const std::string& exePath) {
    const size_t last = exePath.rfind('/');
    std::string dir = last == std::string::npos ? std::string() : exePath.substr(0, last + 1);
    if (dir.rfind("\\\\?\\", 0) == 0) dir.erase(0, 4);
    return dir;
}

std::string GetProgramDir() { return ProgramDirOf(ProgramFilePath()); }

std::string ChangeToProgramDir() {
    const std::string dir = ProgramDirOf(GetProgramDir());
    if (!dir.empty()) {
        [[maybe_unused]] const int ignored = ::chdir(dir.c_str());
    }
    return dir;
}

namespace {

// True when standard error is the stream the journal gave the service: JOURNAL_STREAM holds
// "device:inode" of that stream, and a redirected standard error no longer matches it.
bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (!stream || ::fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return false;
    return dev == st.st_dev && ino == st.st_ino;
}

}  // namespace

void TellError(const std::string& text) {
    static const bool journal = StandardErrorIsJournal();
    std::string_view rest = text;
    if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
    std::string out;
    for (;;) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        if (journal) out += "<3>";
        out.append(rest.substr(0, end));
        out += '\n';
        if (end == rest.size()) break;
        rest.remove_prefix(end + 1);
    }
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, out.data(), out.size());
}

namespace {

// The user's locale for one category: the program reads no environment of its own, but the C
// library's locale follows the user's settings.
locale_t UserLocale(int categoryMask) {
    locale_t l = ::newlocale(categoryMask, "", static_cast<locale_t>(0));
    return l ? l : ::newlocale(categoryMask, "C", static_cast<locale_t>(0));
}

// The character set of the time locale's texts, which may differ from the user's LC_CTYPE.
locale_t CharacterLocaleOf(locale_t time) {
    const char* name = ::nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), time);
    const locale_t c = ::newlocale(LC_CTYPE_MASK, name ? name : "C", static_cast<locale_t>(0));
    return c ? c : ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
}

// What the texts take from the user's locale.
struct LocaleTexts {
    locale_t time = static_cast<locale_t>(0);
    std::string timeSeparator;
    std::string thousandsSeparator;
};

LocaleTexts ReadLocaleTexts() {
    LocaleTexts texts;
    texts.time = UserLocale(LC_TIME_MASK);
    const char* fmt = ::nl_langinfo_l(T_FMT, texts.time);
    // The format's bytes are decoded in the time locale's own character set.
    const locale_t characters = CharacterLocaleOf(texts.time);
    const locale_t previous = ::uselocale(characters);
    texts.timeSeparator = TimeSeparatorOf(fmt ? fmt : "");
    ::uselocale(previous);
    if (characters) ::freelocale(characters);
    const locale_t numeric = UserLocale(LC_NUMERIC_MASK);
    const char* sep = ::nl_langinfo_l(THOUSEP, numeric);
    texts.thousandsSeparator = (sep && *sep) ? sep : ",";
    ::freelocale(numeric);
    return texts;
}

// Read at the first text, and again only at a refresh.
LocaleTexts& Texts() {
    static LocaleTexts texts = ReadLocaleTexts();
    return texts;
}

locale_t TimeLocale() { return Texts().time; }

std::tm ToTm(const tarvane::LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    // Weekday and day of the year for formats that show them.
    std::tm copy = tm;
    if (std::mktime(&copy) != -1) {
        tm.tm_wday = copy.tm_wday;
        tm.tm_yday = copy.tm_yday;
    }
    return tm;
}

std::string Format(const char* format, const tarvane::LocalTime& t) {
    const std::tm tm = ToTm(t);
    char buf[256];
    const size_t n = ::strftime_l(buf, sizeof buf, format, &tm, TimeLocale());
    return std::string(buf, n);
}

}  // namespace

std::string TimeSeparatorOf(const std::string& timeFormat) {
    static const std::string kColon = ":";
    for (size_t i = 0; i + 1 < timeFormat.size(); ++i) {
        if (timeFormat[i] != '%') continue;
        size_t conv = i + 1;
        // Flags, width and the E/O modifiers may stand between "%" and the letter.
        while (conv < timeFormat.size() && std::strchr("_-0^#EO123456789", timeFormat[conv]))
            ++conv;
        if (conv >= timeFormat.size()) break;
        const char letter = timeFormat[conv];
        if (std::strchr("TRr", letter)) return kColon;
        if (!std::strchr("HIkl", letter)) {
            i = conv;
            continue;
        }
        const size_t next = timeFormat.find('%', conv + 1);
        if (next == std::string::npos) return kColon;
        const std::string between = timeFormat.substr(conv + 1, next - conv - 1);
        // One whole punctuation character: in a multibyte format a lone byte is only a part.
        std::mbstate_t state{};
        wchar_t wide = 0;
        const size_t length = std::mbrtowc(&wide, between.data(), between.size(), &state);
        const bool whole = !between.empty() && length == between.size();
        return whole && std::iswpunct(static_cast<wint_t>(wide)) ? between : kColon;
    }
    return kColon;
}

void RefreshLocaleTexts() {
    LocaleTexts& texts = Texts();
    const locale_t old = texts.time;
    texts = ReadLocaleTexts();
    if (old) ::freelocale(old);
}

std::string TimeSeparator() { return Texts().timeSeparator; }

std::string MonthAbbreviation(int month) {
    static const char* const kEnglish[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12) return "";
    const char* name = ::nl_langinfo_l(static_cast<nl_item>(ABMON_1 + month - 1), TimeLocale());
    return (name && *name) ? name : kEnglish[month - 1];
}

std::string ThousandsSeparator() { return Texts().thousandsSeparator; }

std::string LongTimeText(const tarvane::LocalTime& t) {
    const char* fmt = ::nl_langinfo_l(T_FMT, TimeLocale());
    return Format((fmt && *fmt) ? fmt : "%H:%M:%S", t);
}

std::string ShortDateText(const tarvane::LocalTime& t) {
    const char* fmt = ::nl_langinfo_l(D_FMT, TimeLocale());
    return Format((fmt && *fmt) ? fmt : "%m/%d/%y", t);
}

std::string TimeOfDayText(const tarvane::LocalTime& t) {
    const std::string& sep = TimeSeparator();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d%s%02d%s%02d.%03d", t.hour % 100, sep.c_str(),
                  t.minute % 100, sep.c_str(), t.second % 100, t.millisecond % 1000);
    return buf;
}

}  // namespace velmar
