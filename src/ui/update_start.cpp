#include "ui/update_start.h"

namespace Orv {

// The update engine is not part of this build yet: no run starts, so there is nothing to confirm.
void StartUpdate(bool) {}

void OnPlayPressed() {}

bool ConfirmClose() {
    return true;
}

} // namespace Orv
