// RowChange: one committed insert, update or delete of a REST table, as the REST service reports
// it to whoever listens (the realtime service delivers it to subscribed channels).
//
//   rest->setRowChangeListener([&](const RowChange& change) { realtime.publish(change); });
#pragma once

#include <boost/json/object.hpp>
#include <functional>
#include <string>

namespace local_backend {

struct RowChange {
  std::string table;
  std::string type;               // "INSERT", "UPDATE" or "DELETE"
  boost::json::object record;     // the row after the change (empty for a delete)
  boost::json::object oldRecord;  // the row before (the removed row for a delete)
};

using RowChangeListener = std::function<void(const RowChange&)>;

}  // namespace local_backend
