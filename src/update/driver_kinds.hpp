// The table of driver kinds: one row per kind with what differs between them
// (core/driver_kind_row.hpp).
#pragma once

#include "core/driver_kind_row.hpp"

namespace zev {

// The row of kind. A kind the table does not know is handled as the IRST
// driver's, as the update of any other kind is.
const DriverKindRow& driverKindRow(DriverKind kind);

}  // namespace zev
