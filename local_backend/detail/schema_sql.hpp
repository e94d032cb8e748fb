// The text of local_backend/schema.sql, compiled into the library.
//
//   connection.execute(detail::schemaSql());
#pragma once

namespace local_backend::detail {

const char* schemaSql() noexcept;

}  // namespace local_backend::detail
