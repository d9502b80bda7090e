#include "Files.h"

namespace kvo::platform {

std::string ProblemReason(Problem problem) {
  switch (problem) {
    case Problem::Missing:
      return "Die Datei oder ihr Ordner wurde nicht gefunden.";
    case Problem::NoAccess:
      return "Sie haben keine Berechtigung für die Datei oder ihren Ordner.";
    case Problem::Locked:
      return "Die Datei ist von einem anderen Programm gesperrt.";
    case Problem::NotRegular:
      return "Das ist keine gewöhnliche Datei.";
    case Problem::Folder:
      return "Das ist ein Ordner, dessen Inhalt sich nicht lesen lässt.";
    case Problem::TooLong:
      return "Der Name oder der Pfad ist zu lang.";
    case Problem::TooManyOpen:
      return "Es sind zu viele Dateien zugleich geöffnet.";
    case Problem::Other:
      break;
  }
  return "Das System meldet einen Fehler.";
}

}  // namespace kvo::platform
