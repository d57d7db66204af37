#include "temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "logfiles/logfiles.h"
#include "velmar/errors.h"

namespace tarvane {

namespace {

constexpr std::string_view kTempSuffix = ".tmp";

}  // namespace

std::string ReplaceExtension(const std::string& name, const std::string& extension) {
    const std::size_t dot = name.find_last_of('.');
    const std::size_t separator = name.find_last_of("/\\:");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
        return name + extension;
    }
    return name.substr(0, dot) + extension;
}

std::string MakeTempFileName(const std::string& extension) {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) throw velmar::EInOutError::FromErrno(ec.value());
    if (dir.empty()) throw velmar::EInOutError(3);
    std::string name = dir.string();
    if (name.back() != '/') name += '/';
    name += "XXXXXX";
    name += kTempSuffix;
    const int fd = mkostemps(name.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC);
    if (fd < 0) throw velmar::EInOutError::FromErrno(errno);
    ::close(fd);
    return ReplaceExtension(name, extension);
}

void WriteTextFile(const std::string& path, std::string_view bytes) {
    if (const int err = WriteNewFile(path, bytes, 0600); err != 0) {
        throw velmar::EInOutError::FromErrno(err);
    }
}

void OpenTextInTempFile(const std::string& text, const OpenAction& open) {
    const std::string path = MakeTempFileName(".txt");
    WriteTextFile(path, text + "\r\n");
    if (open) open(path);
}

}  // namespace tarvane
