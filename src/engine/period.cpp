#include "engine/period.h"

#include "base/checked_math.h"
#include "base/text_format.h"

namespace tilvane {

Result<std::uint64_t> common_period(std::span<const std::uint64_t> moduli) {
  std::uint64_t period = 1;
  for (std::uint64_t m : moduli) {
    const auto next = checked_lcm(period, m);
    if (!next) return fail(cat("LCM overflow while combining ", period, " and ", m));
    if (*next > kPeriodLimit) {
      return fail(cat("common period ", *next, " exceeds checker limit ", kPeriodLimit));
    }
    period = *next;
  }
  return period;
}

}  // namespace tilvane
