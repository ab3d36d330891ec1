#pragma once
// The program's dialogs: About, interface settings, component selection and
// target variant selection. Each is laid out in dialog units as its template
// gives it; every text comes from the string table.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "ports/choices.h"
#include "transfer/interface_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTextEdit;

namespace tarnwick::gui {

// Dialog 100: the program icon, the name, a notice, and "V 6.0   Build 0.8".
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    QString VersionField() const;

private:
    QLabel* version_;
};

// Dialogs 132 (normal) and 137 (IMPEX): port, baud rate and the erase
// choice; and the device behind the chosen port, offered from the serial
// devices present on this system.
class InterfaceDialog : public QDialog {
    Q_OBJECT
public:
    InterfaceDialog(bool impexMode, QWidget* parent = nullptr);

    // A value not in the table leaves the previous choice.
    void SetPort(int port);
    void SetBaud(std::uint32_t baud);
    void SetErase(bool erase);
    // -1 (nothing checked) gives 0xFFFF.
    int GetPort() const;
    std::uint32_t GetBaud() const;
    bool GetErase() const;
    // The device path shown for the chosen port.
    void SetDevicePath(int port, const std::string& path);
    std::string GetDevicePath() const;

    QRadioButton* PortButton(int index) const;
    QRadioButton* BaudButton(int index) const;
    QCheckBox* EraseBox() const { return erase_; }
    QComboBox* DeviceBox() const { return device_; }
    bool IsImpexForm() const { return impex_; }

    // The serial devices present: stable names first, then the usual kinds.
    static std::vector<std::string> SerialDevicesPresent();

private:
    void ShowDeviceOf(int port);

    bool impex_;
    QButtonGroup* ports_;
    QButtonGroup* bauds_;
    QCheckBox* erase_;
    QComboBox* device_;
    // The value tables and lookups of the settings logic.
    tarnwick::InterfaceSettingsDialog logic_;
    std::vector<std::string> devicePaths_;  // per port, as edited
    int shownPort_ = -1;
};

// Dialog 134: firmware only, or firmware with the configuration data.
class ComponentDialog : public QDialog {
    Q_OBJECT
public:
    explicit ComponentDialog(QWidget* parent = nullptr);
    void SetMask(std::uint32_t mask) { componentMask_ = mask; }
    // "Firmware" clears 0x100; the other choice keeps the mask.
    std::uint32_t GetMask() const;
    QRadioButton* FirmwareButton() const { return firmware_; }
    QRadioButton* WithConfigButton() const { return withConfig_; }

private:
    std::uint32_t componentMask_ = 0;
    QRadioButton* firmware_;
    QRadioButton* withConfig_;
};

// Dialog 138: the hardware variants of the document's panel type.
class VariantDialog : public QDialog {
    Q_OBJECT
public:
    VariantDialog(const std::vector<VariantEntry>& variants, QWidget* parent = nullptr);
    // The entry chosen with OK; always one of the list.
    int ChosenIndex() const { return chosen_; }
    void ShowVariantDetails(int index);
    QComboBox* VariantBox() const { return combo_; }
    QTextEdit* DetailsField() const { return details_; }
    QLabel* TypeField() const { return type_; }

    void accept() override;

private:
    std::vector<VariantEntry> variants_;
    QLabel* type_;
    QComboBox* combo_;
    QTextEdit* details_;
    int chosen_ = 0;
};

}  // namespace tarnwick::gui
