// Why the system refused, in the user's words: the same for the desktop
// tool on Linux and for the browser's core, whose refusals are told as the
// system's error codes they stand for.
#include <cerrno>

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
    case Problem::NoLock:
      return "Keine Sperren verfügbar: der Datenträger kann Dateien nicht sperren.";
    case Problem::Full:
      return "Auf dem Datenträger ist nicht genug Platz.";
    case Problem::Other:
      break;
  }
  return "Das System meldet einen Fehler.";
}

#ifndef _WIN32

std::string Reason(const FileError& error) {
  switch (error.code()) {
    case 0:
      return ProblemReason(error.problem());
    case ENOSPC:
      return ProblemReason(Problem::Full);
    case EDQUOT:
      return "Der Speicherplatz, der Ihnen auf dem Datenträger zusteht, ist aufgebraucht.";
    case EACCES:
    case EPERM:
      return ProblemReason(Problem::NoAccess);
    case EROFS:
      return "Der Datenträger ist schreibgeschützt.";
    case EIO:
      return "Der Datenträger meldet einen Lese- oder Schreibfehler.";
    case ENAMETOOLONG:
      return ProblemReason(Problem::TooLong);
    case EMFILE:
    case ENFILE:
      return ProblemReason(Problem::TooManyOpen);
    case EWOULDBLOCK:
      return ProblemReason(Problem::Locked);
    case ENOLCK:
      return ProblemReason(Problem::NoLock);
    case ENOENT:
    case ENOTDIR:
      return ProblemReason(Problem::Missing);
    case EFBIG:
      return "Die Datei wäre größer, als das System erlaubt.";
    case ENOTCONN:
    case ENODEV:
    case ENXIO:
      return "Der Datenträger ist nicht mehr verbunden.";
    // What FUSE drivers and network shares answer for what their disk
    // cannot do.
    case ENOSYS:
    case EOPNOTSUPP:
      return "Das Dateisystem des Datenträgers kann diesen Schritt nicht.";
    case EXDEV:
      return "Die Dateien liegen auf verschiedenen Datenträgern.";
    case EEXIST:
      return "Eine Datei dieses Namens gibt es schon.";
    case EISDIR:
      return "Unter diesem Namen liegt ein Ordner.";
    case EBUSY:
    case ETXTBSY:
      return "Die Datei wird gerade von einem anderen Programm benutzt.";
    case EMLINK:
      return "Die Datei hat schon so viele Namen, wie das Dateisystem erlaubt.";
    case ELOOP:
      return "Der Name führt über zu viele Verknüpfungen.";
    case ENOMEM:
      return "Zu wenig Arbeitsspeicher.";
    case ESTALE:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
      return "Der Datenträger im Netz antwortet nicht mehr.";
    case EINVAL:
      return "Das Dateisystem des Datenträgers lehnt diesen Schritt ab.";
    default:
      // Never the system's English words: its number, for whoever helps.
      return "Das System meldet einen Fehler (Nummer " + std::to_string(error.code()) + ").";
  }
}

#endif

}  // namespace kvo::platform
