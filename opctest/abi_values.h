#pragma once
// Values across the C entry point of an automation library: both the loader
// and the library built from the simulation convert with these.
#include "opctest/opc_automation.h"
#include "opctest/opc_automation_abi.h"

namespace opcda {

// The text of a string value points into v, which must outlive the result.
ravolin_opc_value ToAbi(const Variant& v);
Variant FromAbi(const ravolin_opc_value& v);

}  // namespace opcda
