#include "opctest/abi_values.h"

#include <variant>

namespace opcda {

ravolin_opc_value ToAbi(const Variant& v) {
  ravolin_opc_value out{};
  struct Visitor {
    ravolin_opc_value& out;
    void operator()(std::monostate) const { out.type = RAVOLIN_OPC_EMPTY; }
    void operator()(Null) const { out.type = RAVOLIN_OPC_NULL; }
    void operator()(bool b) const { out.type = RAVOLIN_OPC_BOOL, out.integer = b ? 1 : 0; }
    void operator()(std::int64_t i) const { out.type = RAVOLIN_OPC_INT, out.integer = i; }
    void operator()(double d) const { out.type = RAVOLIN_OPC_DOUBLE, out.number = d; }
    void operator()(const std::string& s) const { out.type = RAVOLIN_OPC_STRING, out.text = s.c_str(); }
    void operator()(Date d) const { out.type = RAVOLIN_OPC_DATE, out.number = d.value; }
  };
  std::visit(Visitor{out}, v);
  return out;
}

Variant FromAbi(const ravolin_opc_value& v) {
  switch (v.type) {
    case RAVOLIN_OPC_NULL: return Null{};
    case RAVOLIN_OPC_BOOL: return v.integer != 0;
    case RAVOLIN_OPC_INT: return static_cast<std::int64_t>(v.integer);
    case RAVOLIN_OPC_DOUBLE: return v.number;
    case RAVOLIN_OPC_STRING: return std::string(v.text ? v.text : "");
    case RAVOLIN_OPC_DATE: return Date{v.number};
    default: return std::monostate{};
  }
}

}  // namespace opcda
