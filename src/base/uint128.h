// The unsigned 128-bit integer used for exact fractions.
#pragma once

namespace tilvane {

__extension__ typedef unsigned __int128 u128;

}  // namespace tilvane
