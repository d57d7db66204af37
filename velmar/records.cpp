#include "records.h"

#include <memory>

namespace velmar {

tGlobalSettings GlobalSettings;

// The event log's flags are atomics, which cannot be assigned: the record is made anew.
void ResetGlobalSettings() {
    std::destroy_at(&GlobalSettings);
    std::construct_at(&GlobalSettings);
}

}  // namespace velmar
