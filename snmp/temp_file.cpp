#include "temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
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

velmar::EInOutError FileError(int err) {
    // A refused symbolic link or a FIFO without reader is an access refusal, not an unknown
    // failure.
    if (err == ELOOP || err == ENXIO) return velmar::EInOutError(5);
    return velmar::EInOutError::FromErrno(err);
}

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
    if (ec) throw FileError(ec.value());
    if (dir.empty()) throw velmar::EInOutError(3);
    std::string name = dir.string();
    if (name.back() != '/') name += '/';
    name += "XXXXXX";
    name += kTempSuffix;
    const int fd = mkostemps(name.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC);
    if (fd < 0) throw FileError(errno);
    ::close(fd);
    return ReplaceExtension(name, extension);
}

void WriteTextFile(const std::string& path, std::string_view bytes) {
    // O_NONBLOCK keeps a FIFO planted under the name from blocking the window.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) throw FileError(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        throw FileError(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw velmar::EInOutError(5);
    }
    if (const int err = WriteAll(fd, bytes); err != 0) {
        ::close(fd);
        throw FileError(err);
    }
    if (::close(fd) != 0) throw FileError(errno);
}

void OpenTextInTempFile(const std::string& text, const OpenAction& open) {
    const std::string path = MakeTempFileName(".txt");
    WriteTextFile(path, text + "\r\n");
    if (open) open(path);
}

}  // namespace tarvane
