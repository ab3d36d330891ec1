#include "app/strings_de.h"

#include <iterator>

namespace tarnwick {

// Kept sorted by number: the lookup is a binary search.
const StringEntry kGermanStrings[] = {
    {10000, "Die Checksumme der Daten im Gerät ist falsch"},
    {10001, "Zeitüberwachungsfehler beim Senden der Daten"},
    {10002, "Protokollfehler"},
    {10003, "Fehler bei der Erkennung der Baudrate"},
    {10004, "Fehler im Schnittstellentreiber"},
    {10005, "Zeitüberwachungsfehler beim Empfang der Daten"},
    {10006, "Die vom Gerät gelieferten Hardwareinformationen können nicht interpretiert werden"},
    {10007, "Zugriff auf eine im Gerät ungültige Adresse"},
    {10008, "Die Daten im Dokument haben nicht das richtige Format"},
    {10009, "Es ist ein Fehler aufgetreten \nCode: 0x%1 Funktion: 0x%2 "},
    {10010, "Der Vorgang wurde vom Anwender abgebrochen"},
    {10011, "Keine gültigen Daten im Bediengerät gefunden"},
    {10012, "Das angeschlossene Gerät paßt nicht zum Dokument"},
    {10013, "Lesefehler beim Dateizugriff"},
    {10014, "Ungültige Image-Kombination"},
    {10015, "Datei nicht gefunden"},
    {10016, "Ungültiger Import-Header"},
    {10017, "Schreibfehler beim Dateizugriff"},
    {10018, "Verfügbarer Speicher im Bediengerät reicht nicht aus"},
    {10019, "Die Daten in der Datei können nicht gelesen werden"},
    {10020, "Datei  %1 kann nicht erzeugt werden"},
    {10021, "Unbekanntes Dateiformat"},
    {10022, "Fehler bei der Schnittstellenparametrierung"},
    {10023, "Ausgewählte Schnittstelle ist nicht verfügbar"},
    {10024, "Unbekanntes Bediengerät"},
    {10025, "Upgrade des Bediengeräts auf die höhere Windows CE-Version ist nicht möglich"},
    {10026, "Zeitüberschreitungsfehler beim Download"},
};

const std::size_t kGermanStringCount = std::size(kGermanStrings);

}  // namespace tarnwick
