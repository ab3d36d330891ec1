#include "gui/qt_status_dialog.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "gui/dialog_units.h"
#include "gui/gui_texts.h"
#include "gui/ui_thread.h"

namespace tarnwick::gui {

QtStatusDialog::QtStatusDialog(QWidget* parent)
    : QDialog(parent,
              // A caption bar but no system menu: Cancel is the only control
              // a person has, and it does not close the dialog.
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("StatusDialog"));
    setWindowTitle(GuiText(kTxtStatusCaption));
    setModal(true);

    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progress1011"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->hide();

    text_ = new QLabel(GuiText(kTxtStatusDummy), this);
    text_->setObjectName(QStringLiteral("text1010"));
    text_->setTextFormat(Qt::PlainText);
    text_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    text_->setWordWrap(true);

    cancel_ = new QPushButton(GuiText(kTxtAbbruch), this);
    cancel_->setObjectName(QStringLiteral("cancel2"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &QtStatusDialog::reject);

    const DialogUnits du(this);
    du.Place(bar_, 22, 14, 133, 10);
    du.Place(text_, 20, 27, 138, 61);
    du.Place(cancel_, 64, 95, 50, 14);
    setFixedSize(du.Size(178, 129));
}

QtStatusDialog::~QtStatusDialog() { MarkGone(); }

int QtStatusDialog::BarPosition(std::uint32_t percent) {
    const int position = static_cast<int>(percent & 0xFFFFu);
    return position > 100 ? 100 : position;
}

bool QtStatusDialog::RunModal() {
    // The worker may already be finished with a dialog it never needed to
    // show (a failure before any step); its close request then ends the run
    // as soon as the loop starts.
    exec();
    return true;
}

void QtStatusDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (initialised_) return;
    initialised_ = true;
    // Centred on the owner, or on the screen when there is none.
    const QWidget* owner = parentWidget();
    const QRect area = owner && owner->isVisible()
                           ? owner->frameGeometry()
                           : (screen() ? screen()->availableGeometry() : QRect());
    if (area.isValid()) move(area.center() - rect().center());
    bar_->setValue(0);
    MarkReady();
    // A close posted before the loop ran is still in the queue; nothing to do.
}

void QtStatusDialog::closeEvent(QCloseEvent* event) {
    // Only the worker ends the dialog.
    if (!CloseRequested()) event->ignore();
    else QDialog::closeEvent(event);
}

void QtStatusDialog::reject() { RequestCancel(); }

void QtStatusDialog::OnText(const std::string& text) {
    CallOnThreadOf(this, [this, t = QString::fromStdString(text)] { text_->setText(t); });
}

void QtStatusDialog::OnCaption(const std::string& caption) {
    CallOnThreadOf(this, [this, c = QString::fromStdString(caption)] { setWindowTitle(c); });
}

void QtStatusDialog::OnBarVisible(bool visible) {
    CallOnThreadOf(this, [this, visible] { bar_->setVisible(visible); });
}

void QtStatusDialog::OnTextEmphasis(bool bold) {
    CallOnThreadOf(this, [this, bold] {
        QFont font = text_->font();
        font.setBold(bold);
        text_->setFont(font);
        // Several bold lines start at the top of the field; the normal
        // one-line texts stay centred in it.
        text_->setAlignment(Qt::AlignHCenter | (bold ? Qt::AlignTop : Qt::AlignVCenter));
    });
}

void QtStatusDialog::OnPercent(std::uint32_t percent, std::uint64_t, std::uint32_t) {
    CallOnThreadOf(this, [this, percent] {
        bar_->setValue(BarPosition(percent));
        repaint();
    });
}

void QtStatusDialog::OnClosePosted() {
    // Never waits: the worker's last action must not depend on the window.
    PostToThreadOf(this, [this] { QDialog::accept(); });
}

std::unique_ptr<StatusDialog> QtStatusHost::CreateStatusDialog() {
    auto dialog = std::make_unique<QtStatusDialog>(owner_);
    if (onCreated) onCreated(*dialog);
    return dialog;
}

}  // namespace tarnwick::gui
