// Every error that ends a conversion run carries the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace kvo {

inline constexpr const char* kRangeErrorText = "Fehler bei Bereichsprüfung";
inline constexpr const char* kOutOfMemoryText = "Zu wenig Arbeitsspeicher";
inline constexpr const char* kIncompleteText = "Datei ist unvollständig";
inline constexpr const char* kWrongVersionText = "Falsche Dateiversion";

class KvoError : public std::runtime_error {
 public:
  // detail: why, in a second line or behind the message (the system's reason,
  // which file is in the way).
  explicit KvoError(const std::string& userMessage, std::string detail = {})
      : std::runtime_error(userMessage), detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

// A file that is not a version 1.0 file. Kept apart from KvoError because the
// window reports it as information, not as an error.
class WrongVersion : public std::runtime_error {
 public:
  WrongVersion() : std::runtime_error(kWrongVersionText) {}
};

}  // namespace kvo
