#include "devices/device.h"

#include <cmath>
#include <limits>

namespace rovalink::devices {

void Device::setValue(double value) {
  using Limits = std::numeric_limits<std::int16_t>;
  if (std::isnan(value)) {
    Value = 0;
    return;
  }
  // nearbyint in the default rounding mode rounds half-way values to the even neighbour.
  const double rounded = std::nearbyint(value);
  if (rounded <= Limits::min()) {
    Value = Limits::min();
  } else if (rounded >= Limits::max()) {
    Value = Limits::max();
  } else {
    Value = static_cast<std::int16_t>(rounded);
  }
}

}  // namespace rovalink::devices
