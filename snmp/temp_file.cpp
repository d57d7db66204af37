#include "temp_file.h"

#include <filesystem>
#include <system_error>

#include "base/posix_file.h"
#include "velmar/errors.h"

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
    if (const int err = WriteTempFile(name, static_cast<int>(extension.size()), bytes, false)) {
        throw velmar::EInOutError::FromErrno(err);
    }
    return name;
}

void OpenTextInTempFile(const std::string& text, const OpenAction& open) {
    const std::string path = CreateTempFile(".txt", text + "\r\n");
    if (open) open(path);
}

}  // namespace tarvane
