#include "gui/gui_texts.h"

#include <algorithm>
#include <iterator>

#include "app/string_table.h"

namespace tarnwick::gui {
namespace {

struct Entry {
    unsigned id;
    const char* text;
};

// Kept sorted by number.
constexpr Entry kBuiltin[] = {
    {128, "Tarnwick\nxxx\nTarnwi\nImage (*.img)\n.img\nTarnwick.Document\nTarnwi Document"},
    {10101, "Neu"},
    {10102, "Image Datei  (*.img)|*.IMG||"},
    {30001, "&Datei"},
    {30002, "Ö&ffnen...\tStrg+O"},
    {30003, "S&peichern\tStrg+S"},
    {30004, "Speichern &unter..."},
    {30005, "&Download"},
    {30006, "Up&load"},
    {30007, "&Einstellungen..."},
    {30008, "&Import CE"},
    {30009, "E&xport CE"},
    {30010, "Letzte Datei"},
    {30011, "&Beenden"},
    {30012, "&Ansicht"},
    {30013, "&Symbolleiste"},
    {30014, "Forma&t"},
    {30015, "Sch&riftart"},
    {30016, "&?"},
    {30017, "Inf&o über Tarnwick..."},
    {30100, "Info über Tarnwick"},
    {30101, "Tarnwick"},
    {30102, "Betriebssystem-Images für Bediengeräte"},
    {30103, "Version"},
    {30104, "OK"},
    {30110, "Status"},
    {30111, "Abbruch"},
    {30112, "Dummy"},
    {30120, "Schnittstelle einstellen"},
    {30121, "Schnittstelle"},
    {30122, "Baudrate"},
    {30123, "230400 Baud nur mit RS485-ISA-Karte !"},
    {30124, "Flash komplett löschen"},
    {30125, "Gerät:"},
    {30130, "Auswahl der Komponenten"},
    {30131, "Firmware"},
    {30132, "Firmware + Projektierung"},
    {30140, "Variantenauswahl"},
    {30141, "Abbrechen"},
    {30142, "Zielgerät:"},
    {30143, "Hardwarevariante:"},
    {30150, "Schriftart"},
    {30151, "Schrift&art:"},
    {30152, "&Schriftgrad:"},
    {30153, "Beispiel"},
    {30154, "AaBbYyZz"},
    {32771, "Transfer der Daten zum Gerät \nTransfer"},
    {32772, "Transfer der Daten aus dem Gerät \nRücktransfer"},
    {32773, "Einstellung der Schnittstelle\nEinstellungen"},
    {32775, "Import Windows CE"},
    {32790, "Transfer der Daten in eine Datei (*.exp)"},
    {32800, "Flashgröße"},
    {32801, "DRAM-Größe"},
    {32802, "Größe Bootloader"},
    {32803, "Start Flashbank"},
    {57344, "Tarnwick"},
    {57601, "Öffnet ein bestehendes Dokument\nÖffnen"},
    {57603, "Speichert das aktive Dokument\nSpeichern"},
    {57604, "Speichert das aktive Dokument unter neuem Namen\nSpeichern unter"},
    {57616, "Öffnet dieses Dokument"},
    {57664, "Zeigt Programminformationen, Versionsnummer und Copyright an\nInfo"},
    {57665, "Verläßt die Anwendung; fordert zum Speichern der Dokumente auf\nBeenden"},
    {57696, "Ändert die Schriftart des Protokolls\nSchriftart"},
    {59137, "UF"},
    {59138, "NUM"},
    {59139, "RF"},
    {59392, "Blendet die Symbolleiste ein oder aus\nSymbolleiste ein-/ausblenden"},
    {61440, "Öffnen"},
    {61443, "Unbenannt"},
    {61699, "Änderungen in %1 speichern?"},
};

}  // namespace

std::string GuiTextUtf8(unsigned id) {
    if (auto text = LoadString(id)) return *text;
    const auto* end = std::end(kBuiltin);
    const auto* it = std::lower_bound(std::begin(kBuiltin), end, id,
                                      [](const Entry& e, unsigned v) { return e.id < v; });
    if (it != end && it->id == id) return it->text;
    return {};
}

QString GuiText(unsigned id) { return QString::fromStdString(GuiTextUtf8(id)); }

QString PromptPart(const QString& commandString) {
    const auto cut = commandString.indexOf(QLatin1Char('\n'));
    return cut < 0 ? commandString : commandString.left(cut);
}

QString TipPart(const QString& commandString) {
    const auto cut = commandString.indexOf(QLatin1Char('\n'));
    return cut < 0 ? QString() : commandString.mid(cut + 1);
}

}  // namespace tarnwick::gui
