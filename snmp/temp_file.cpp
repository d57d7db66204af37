#include "temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "velmar/errors.h"
#include "velmar/posix_file.h"

namespace tarvane {

std::string CreateTempFile(const std::string& extension, std::string_view bytes) {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) throw velmar::EInOutError::FromErrno(ec.value());
    if (dir.empty()) throw velmar::EInOutError(3);
    std::string name = dir.string();
    if (name.back() != '/') name += '/';
    name += "XXXXXX";
    name += extension;
    // mkostemps creates with O_EXCL and mode 0600.
    const int fd = mkostemps(name.data(), static_cast<int>(extension.size()), O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw velmar::EInOutError::FromErrno(errno);
    int err = WriteAll(fd, bytes);
    if (err == 0) err = SetCreationMode(fd);
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        ::unlink(name.c_str());
        throw velmar::EInOutError::FromErrno(err);
    }
    return name;
}

void OpenTextInTempFile(const std::string& text, const OpenAction& open) {
    const std::string path = CreateTempFile(".txt", text + "\r\n");
    if (open) open(path);
}

}  // namespace tarvane
