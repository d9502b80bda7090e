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
  explicit KvoError(const std::string& userMessage) : std::runtime_error(userMessage) {}
};

// A file that is not a version 1.0 file. Kept apart from KvoError because the
// window reports it as information, not as an error.
class WrongVersion : public std::runtime_error {
 public:
  WrongVersion() : std::runtime_error(kWrongVersionText) {}
};

}  // namespace kvo
