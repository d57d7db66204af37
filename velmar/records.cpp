#include "records.h"

namespace velmar {

tGlobalSettings GlobalSettings;

}  // namespace velmar
