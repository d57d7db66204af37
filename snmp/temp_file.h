#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarvane {

// The desktop's "open" action for a file; whatever it does is not looked at.
using OpenAction = std::function<void(const std::string& path)>;

// Creates a new, uniquely named file ending in `extension` in the temporary directory, made by
// this call alone (O_EXCL) and readable only by its owner until `bytes` are in it whole; then it
// takes the usual mode. Returns its name. Raises EInOutError when no temporary directory or
// unique name can be had or the write fails; nothing is then left behind.
std::string CreateTempFile(const std::string& extension, std::string_view bytes);

// Writes `text` and CR LF into a new temporary ".txt" file, then hands its path to `open`.
void OpenTextInTempFile(const std::string& text, const OpenAction& open);

}  // namespace tarvane
