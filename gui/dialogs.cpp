#include "gui/dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>

#include "app/settings.h"
#include "app/tarnwick_app.h"
#include "gui/dialog_units.h"
#include "gui/gui_texts.h"
#include "gui/icons.h"
#include "transfer/interface_settings.h"
#include "transfer/transfer_view.h"

namespace tarnwick::gui {
namespace {

constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

QPushButton* MakeButton(QDialog* dialog, const QString& text, const char* name, bool isDefault) {
    auto* button = new QPushButton(text, dialog);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefault(isDefault);
    button->setAutoDefault(isDefault);
    return button;
}

}  // namespace

// ---- About ----------------------------------------------------------------

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent, kDialogFlags) {
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(GuiText(kTxtAboutCaption));
    const DialogUnits du(this);

    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(du.X(21), du.X(21)));
    du.Place(icon, 11, 17, 21, 20);

    auto* product = new QLabel(GuiText(kTxtAboutProduct), this);
    product->setObjectName(QStringLiteral("product"));
    du.Place(product, 40, 10, 119, 8);
    auto* notice = new QLabel(GuiText(kTxtAboutNotice), this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setWordWrap(true);
    du.Place(notice, 40, 25, 170, 16);
    auto* label = new QLabel(GuiText(kTxtAboutVersionLabel), this);
    du.Place(label, 40, 46, 40, 8);
    version_ = new QLabel(this);
    version_->setObjectName(QStringLiteral("version1010"));
    du.Place(version_, 80, 46, 100, 8);

    auto* ok = MakeButton(this, GuiText(kTxtOk), "ok1", true);
    du.Place(ok, 160, 58, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(du.Size(217, 79));

    // "V " and the version with its build, as the program reports it.
    version_->setText(QString::fromStdString(VersionText()));
}

QString AboutDialog::VersionField() const { return version_->text(); }

// ---- Interface settings ---------------------------------------------------

std::vector<std::string> InterfaceDialog::SerialDevicesPresent() {
    return tarnwick::SerialDevicesPresent();
}

InterfaceDialog::InterfaceDialog(bool impexMode, QWidget* parent)
    : QDialog(parent, kDialogFlags), impex_(impexMode) {
    setObjectName(impexMode ? QStringLiteral("InterfaceDialog137")
                            : QStringLiteral("InterfaceDialog132"));
    setWindowTitle(GuiText(kTxtInterfaceCaption));
    const DialogUnits du(this);
    // The device row is this platform's addition: it sits above the buttons,
    // which move down by its height.
    constexpr int kDeviceRow = 26;

    const int portCount = impexMode ? 4 : 2;
    const int baudCount = impexMode ? 5 : 4;

    auto* portGroup = new QGroupBox(GuiText(kTxtPortGroup), this);
    du.Place(portGroup, 7, 7, 70, 13 + 13 * portCount);
    ports_ = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(QStringLiteral("COM%1").arg(i + 1), this);
        radio->setObjectName(QStringLiteral("port%1").arg(1000 + i));
        du.Place(radio, 15, 19 + 13 * i, 50, 10);
        radio->setVisible(i < portCount);
        ports_->addButton(radio, i);
    }

    auto* baudGroup = new QGroupBox(GuiText(kTxtBaudGroup), this);
    du.Place(baudGroup, 90, 7, 75, 13 + 13 * baudCount);
    bauds_ = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        auto* radio = new QRadioButton(QString::number(InterfaceBaudTable()[static_cast<size_t>(i)]), this);
        radio->setObjectName(QStringLiteral("baud%1").arg(1004 + i));
        du.Place(radio, 98, 19 + 13 * i, 60, 10);
        radio->setVisible(i < baudCount);
        bauds_->addButton(radio, i);
    }
    // Children are stacked in creation order: the radios above the frames.
    portGroup->lower();
    baudGroup->lower();

    erase_ = new QCheckBox(GuiText(kTxtEraseFlash), this);
    erase_->setObjectName(QStringLiteral("erase1025"));
    int y = impexMode ? 95 : 84;
    if (impexMode) {
        auto* note = new QLabel(GuiText(kTxtRs485Note), this);
        note->setObjectName(QStringLiteral("rs485note"));
        du.Place(note, 7, 95, 158, 10);
        du.Place(erase_, 7, 110, 158, 10);
        y = 124;
    } else {
        // Present but not visible: its value is exchanged all the same.
        du.Place(erase_, 7, 84, 158, 10);
        erase_->hide();
        y = 84;
    }

    auto* deviceLabel = new QLabel(GuiText(kTxtDeviceLabel), this);
    du.Place(deviceLabel, 7, y, 158, 8);
    device_ = new QComboBox(this);
    device_->setObjectName(QStringLiteral("device"));
    device_->setEditable(true);
    device_->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& path : SerialDevicesPresent()) device_->addItem(QString::fromStdString(path));
    du.Place(device_, 7, y + 10, 158, 14);
    deviceLabel->setBuddy(device_);

    const int buttonY = (impexMode ? 140 : 101) + kDeviceRow;
    auto* cancel = MakeButton(this, GuiText(kTxtAbbruch), "cancel2", false);
    du.Place(cancel, 19, buttonY, 50, 14);
    auto* ok = MakeButton(this, GuiText(kTxtOk), "ok1", true);
    du.Place(ok, 99, buttonY, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(du.Size(172, (impexMode ? 175 : 133) + kDeviceRow));

    for (int i = 0; i < 4; ++i) devicePaths_.push_back(PortDevicePath(i));
    ports_->button(0)->setChecked(true);
    bauds_->button(0)->setChecked(true);
    ShowDeviceOf(0);
    connect(ports_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) ShowDeviceOf(id);
    });
}

QRadioButton* InterfaceDialog::PortButton(int index) const {
    return static_cast<QRadioButton*>(ports_->button(index));
}

QRadioButton* InterfaceDialog::BaudButton(int index) const {
    return static_cast<QRadioButton*>(bauds_->button(index));
}

void InterfaceDialog::ShowDeviceOf(int port) {
    if (shownPort_ >= 0) devicePaths_[static_cast<size_t>(shownPort_)] = device_->currentText().toStdString();
    shownPort_ = port;
    if (port >= 0) device_->setEditText(QString::fromStdString(devicePaths_[static_cast<size_t>(port)]));
}

void InterfaceDialog::SetPort(int port) {
    // The lookup is the settings logic's; the dialog only checks the button.
    if (port < 0 || port > 0xFFFF) return;
    logic_.SetPort(static_cast<std::uint16_t>(port));
    if (auto* b = ports_->button(logic_.portChoice)) b->setChecked(true);
}

void InterfaceDialog::SetBaud(std::uint32_t baud) {
    logic_.SetBaud(baud);
    if (auto* b = bauds_->button(logic_.baudChoice)) b->setChecked(true);
}

void InterfaceDialog::SetErase(bool erase) { erase_->setChecked(erase); }

int InterfaceDialog::GetPort() const {
    tarnwick::InterfaceSettingsDialog exchanged = logic_;
    exchanged.portChoice = ports_->checkedId();
    return exchanged.GetPort();
}

std::uint32_t InterfaceDialog::GetBaud() const {
    tarnwick::InterfaceSettingsDialog exchanged = logic_;
    exchanged.baudChoice = bauds_->checkedId();
    return exchanged.GetBaud();
}

bool InterfaceDialog::GetErase() const { return erase_->isChecked(); }

void InterfaceDialog::SetDevicePath(int port, const std::string& path) {
    if (port < 0 || port > 3) return;
    devicePaths_[static_cast<size_t>(port)] = path;
    if (port == shownPort_) device_->setEditText(QString::fromStdString(path));
}

std::string InterfaceDialog::GetDevicePath() const {
    return device_->currentText().trimmed().toStdString();
}

// ---- Component selection --------------------------------------------------

ComponentDialog::ComponentDialog(QWidget* parent) : QDialog(parent, kDialogFlags) {
    setObjectName(QStringLiteral("ComponentDialog"));
    setWindowTitle(GuiText(kTxtComponentCaption));
    const DialogUnits du(this);
    firmware_ = new QRadioButton(GuiText(kTxtFirmware), this);
    firmware_->setObjectName(QStringLiteral("radio1012"));
    du.Place(firmware_, 23, 18, 110, 10);
    withConfig_ = new QRadioButton(GuiText(kTxtFirmwareAndConfig), this);
    withConfig_->setObjectName(QStringLiteral("radio1013"));
    du.Place(withConfig_, 23, 34, 125, 10);
    // Always opens with "Firmware" checked.
    firmware_->setChecked(true);

    auto* cancel = MakeButton(this, GuiText(kTxtAbbruch), "cancel2", false);
    du.Place(cancel, 23, 55, 50, 14);
    auto* ok = MakeButton(this, GuiText(kTxtOk), "ok1", true);
    du.Place(ok, 79, 55, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(du.Size(154, 87));
}

std::uint32_t ComponentDialog::GetMask() const {
    return ComponentMask(componentMask_, withConfig_->isChecked() ? 1 : 0);
}

// ---- Variant selection ----------------------------------------------------

VariantDialog::VariantDialog(const std::vector<VariantEntry>& variants, QWidget* parent)
    : QDialog(parent, kDialogFlags), variants_(variants) {
    setObjectName(QStringLiteral("VariantDialog"));
    setWindowTitle(GuiText(kTxtVariantCaption));
    const DialogUnits du(this);

    auto* targetLabel = new QLabel(GuiText(kTxtTargetLabel), this);
    du.Place(targetLabel, 18, 15, 40, 8);
    type_ = new QLabel(this);
    type_->setObjectName(QStringLiteral("type1011"));
    type_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    du.Place(type_, 59, 15, 164, 10);
    auto* variantLabel = new QLabel(GuiText(kTxtVariantLabel), this);
    du.Place(variantLabel, 18, 26, 120, 8);

    // A list the person cannot type into: OK always designates an entry.
    combo_ = new QComboBox(this);
    combo_->setObjectName(QStringLiteral("combo1012"));
    combo_->setEditable(false);
    du.Place(combo_, 19, 42, 207, 13);

    details_ = new QTextEdit(this);
    details_->setObjectName(QStringLiteral("details1024"));
    details_->setReadOnly(true);
    details_->setAcceptRichText(false);
    du.Place(details_, 19, 58, 207, 50);

    auto* cancel = MakeButton(this, GuiText(kTxtAbbrechen), "cancel2", false);
    du.Place(cancel, 59, 123, 50, 14);
    auto* ok = MakeButton(this, GuiText(kTxtOk), "ok1", true);
    du.Place(ok, 144, 123, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(du.Size(264, 162));

    if (!variants_.empty()) type_->setText(QString::fromStdString(variants_.front().panelTypeName));
    for (const auto& v : variants_) combo_->addItem(QString::fromStdString(v.description));
    combo_->setCurrentIndex(variants_.empty() ? -1 : 0);
    ok->setEnabled(!variants_.empty());
    ShowVariantDetails(0);
    connect(combo_, &QComboBox::currentIndexChanged, this,
            [this](int index) { ShowVariantDetails(index); });
}

void VariantDialog::ShowVariantDetails(int index) {
    // The background of menus, as a field that only informs.
    QPalette palette = details_->palette();
    palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Window));
    details_->setPalette(palette);
    if (index < 0 || index >= static_cast<int>(variants_.size())) {
        details_->clear();
        return;
    }
    const VariantEntry& v = variants_[static_cast<size_t>(index)];
    auto line = [](unsigned id, std::uint32_t value) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%08x", value);
        return GuiText(id) + QStringLiteral(":\t") + QString::fromLatin1(number);
    };
    details_->setTabStopDistance(details_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 18);
    details_->setPlainText(line(kStrVariantFlash, v.flashSize) + QLatin1Char('\n') +
                           line(kStrVariantDram, v.dramSize) + QLatin1Char('\n') +
                           line(kStrVariantLoader, v.loaderSize) + QLatin1Char('\n') +
                           line(kStrVariantStart, v.flashStart) + QLatin1Char('\n'));
}

void VariantDialog::accept() {
    const int index = combo_->currentIndex();
    if (index < 0 || index >= static_cast<int>(variants_.size())) return;
    chosen_ = index;
    QDialog::accept();
}

}  // namespace tarnwick::gui
