// Start.ini's bytes through the stream reader the launcher reads the file with.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "settings/settings_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  launcher::SkipUtf8Mark(in);
  const auto fields = launcher::ReadFourFields(in);
  if (!fields) return 0;
  for (const std::string& field : *fields) {
    // What the reader promises the rest of the launcher: bounded fields free of NUL bytes.
    if (field.size() > launcher::kMaxFieldBytes || field.find('\0') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
