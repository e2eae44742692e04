#include "core/app_state.h"

namespace Orv {
namespace {

// Static storage duration: constructed before the entry point, never destroyed (ExitProcess).
AppState appState;

} // namespace

AppState& App() {
    return appState;
}

} // namespace Orv
