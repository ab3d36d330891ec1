#include "gui/font_dialog.h"

#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/gui_texts.h"

namespace tarnwick::gui {

LogFontDialog::LogFontDialog(const QFont& current, int minPoints, int maxPoints, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FontDialog"));
    setWindowTitle(GuiText(kTxtFontCaption));

    face_ = new QFontComboBox(this);
    face_->setObjectName(QStringLiteral("face"));
    face_->setCurrentFont(current);
    face_->setEditable(false);

    size_ = new QSpinBox(this);
    size_->setObjectName(QStringLiteral("size"));
    size_->setRange(minPoints, maxPoints);
    const int points = current.pointSize() > 0 ? current.pointSize() : 11;
    size_->setValue(std::clamp(points, minPoints, maxPoints));

    auto* form = new QFormLayout;
    form->addRow(GuiText(kTxtFontFace), face_);
    form->addRow(GuiText(kTxtFontSize), size_);

    auto* sampleBox = new QGroupBox(GuiText(kTxtFontSample), this);
    sample_ = new QLabel(GuiText(kTxtFontSampleText), sampleBox);
    sample_->setAlignment(Qt::AlignCenter);
    sample_->setMinimumHeight(48);
    auto* sampleLayout = new QVBoxLayout(sampleBox);
    sampleLayout->addWidget(sample_);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(GuiText(kTxtOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(GuiText(kTxtAbbrechen), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(sampleBox);
    layout->addWidget(buttons);

    connect(face_, &QFontComboBox::currentFontChanged, this, [this] { UpdateSample(); });
    connect(size_, &QSpinBox::valueChanged, this, [this] { UpdateSample(); });
    UpdateSample();
}

QFont LogFontDialog::ChosenFont() const {
    QFont font = face_->currentFont();
    font.setPointSize(size_->value());
    return font;
}

void LogFontDialog::UpdateSample() { sample_->setFont(ChosenFont()); }

std::optional<QFont> LogFontDialog::Choose(QWidget* parent, const QFont& current, int minPoints,
                                           int maxPoints) {
    LogFontDialog dialog(current, minPoints, maxPoints, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.ChosenFont();
}

}  // namespace tarnwick::gui
