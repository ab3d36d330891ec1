#pragma once
// The status dialog of a long operation (dialog 133): one block of text, a
// progress bar shown only while data moves, and a Cancel button that only
// records the request. The worker drives it from its own thread; every change
// is handed to the window's thread and waited for. Only the worker closes it.
#include <QDialog>
#include <memory>

#include "transfer/status_dialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnwick::gui {

class QtStatusDialog : public QDialog, public StatusDialog {
    Q_OBJECT
public:
    explicit QtStatusDialog(QWidget* parent = nullptr);
    ~QtStatusDialog() override;

    bool RunModal() override;

    QLabel* TextField() const { return text_; }
    QProgressBar* ProgressBar() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }

    // The bar's position for a percentage of the dialog's rule: the low 16
    // bits, kept within the bar's range as the control itself does.
    static int BarPosition(std::uint32_t percent);

public slots:
    // Cancel button and Esc: the request is recorded, nothing else.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    void OnText(const std::string& text) override;
    void OnCaption(const std::string& caption) override;
    void OnBarVisible(bool visible) override;
    void OnTextEmphasis(bool bold) override;
    void OnPercent(std::uint32_t percent, std::uint64_t done, std::uint32_t total) override;
    void OnClosePosted() override;

private:
    QLabel* text_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    bool initialised_ = false;
};

class QtStatusHost : public StatusDialogHost {
public:
    explicit QtStatusHost(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }
    std::unique_ptr<StatusDialog> CreateStatusDialog() override;

    // Called with every dialog right after it is made (tests, screenshots).
    std::function<void(QtStatusDialog&)> onCreated;

private:
    QWidget* owner_;
};

}  // namespace tarnwick::gui
