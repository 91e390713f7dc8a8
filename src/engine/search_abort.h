// Internal consistency failures of the residue searches: they can only come
// from a defect, so they end the process with a message on standard error.
#pragma once

namespace tilvane {

[[noreturn]] void search_abort(const char* message);

}  // namespace tilvane
