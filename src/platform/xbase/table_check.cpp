// Table::Check: validation of a table's files without changing them.
#include "platform/xbase/table_impl.h"

namespace veltrane::xbase {

std::vector<std::string> Table::Check(const std::string&) { return {"not implemented"}; }

}  // namespace veltrane::xbase
