#include "voduzazi/platform/mime_types.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <utility>

namespace voduzazi {
namespace {

using TypeTable = std::map<std::string, std::string, std::less<>>;

// The common types, so the answer for these does not depend on what the system has installed.
constexpr std::array<std::pair<std::string_view, std::string_view>, 38> commonTypes{{
    {"aac", "audio/aac"},       {"avif", "image/avif"},
    {"bmp", "image/bmp"},       {"css", "text/css"},
    {"csv", "text/csv"},        {"doc", "application/msword"},
    {"gif", "image/gif"},       {"gz", "application/gzip"},
    {"heic", "image/heic"},     {"htm", "text/html"},
    {"html", "text/html"},      {"ico", "image/vnd.microsoft.icon"},
    {"jpeg", "image/jpeg"},     {"jpg", "image/jpeg"},
    {"js", "text/javascript"},  {"json", "application/json"},
    {"m4a", "audio/mp4"},       {"md", "text/markdown"},
    {"mov", "video/quicktime"}, {"mp3", "audio/mpeg"},
    {"mp4", "video/mp4"},       {"mpeg", "video/mpeg"},
    {"oga", "audio/ogg"},       {"ogg", "audio/ogg"},
    {"pdf", "application/pdf"}, {"png", "image/png"},
    {"svg", "image/svg+xml"},   {"tar", "application/x-tar"},
    {"tif", "image/tiff"},      {"tiff", "image/tiff"},
    {"txt", "text/plain"},      {"wasm", "application/wasm"},
    {"wav", "audio/wav"},       {"webm", "video/webm"},
    {"webp", "image/webp"},     {"xml", "application/xml"},
    {"zip", "application/zip"}, {"7z", "application/x-7z-compressed"},
}};

std::string lowered(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  });
  return lower;
}

bool isMIMEType(std::string_view type) {
  const std::size_t slash = type.find('/');
  return slash != std::string_view::npos && slash > 0 && slash + 1 < type.size() &&
         type.find('/', slash + 1) == std::string_view::npos;
}

// Never destroyed: an upload still under way while the process exits looks its type up here.
const TypeTable& systemTypes() {
  static const auto* const table = new TypeTable([] {
    std::ifstream file("/etc/mime.types");
    if (!file) return TypeTable{};
    std::ostringstream text;
    text << file.rdbuf();
    return parseMIMETypes(text.str());
  }());
  return *table;
}

}  // namespace

TypeTable parseMIMETypes(std::string_view text) {
  TypeTable table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string type;
    if (!(words >> type) || !isMIMEType(type)) continue;
    for (std::string extension; words >> extension;) table.emplace(lowered(extension), type);
  }
  return table;
}

std::optional<std::string> preferredMIMEType(std::string_view pathExtension) {
  if (pathExtension.empty()) return std::nullopt;
  const std::string extension = lowered(pathExtension);
  const auto common = std::find_if(commonTypes.begin(), commonTypes.end(),
                                   [&](const auto& entry) { return entry.first == extension; });
  if (common != commonTypes.end()) return std::string(common->second);
  const TypeTable& system = systemTypes();
  if (const auto found = system.find(extension); found != system.end()) return found->second;
  return std::nullopt;
}

}  // namespace voduzazi
