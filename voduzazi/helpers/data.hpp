// Data: bytes held in a std::string, as request and response bodies carry them.
//
//   Data body = R"({"name":"x"})";
//   request.body = body;
#pragma once

#include <string>

namespace voduzazi {

using Data = std::string;

}  // namespace voduzazi
