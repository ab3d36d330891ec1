#pragma once
// The font choice of the log: a face and a size from 8 to 24 points, nothing
// else (no colour, underline or strike-out: the log's colours and weights are
// not the person's to change).
#include <QDialog>
#include <optional>

class QFontComboBox;
class QLabel;
class QSpinBox;

namespace tarnwick::gui {

class LogFontDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMinPoints = 8;
    static constexpr int kMaxPoints = 24;

    LogFontDialog(const QFont& current, int minPoints, int maxPoints, QWidget* parent = nullptr);

    QFont ChosenFont() const;
    QFontComboBox* FaceBox() const { return face_; }
    QSpinBox* SizeBox() const { return size_; }

    // Runs the dialog; the chosen face and size, or nothing after Cancel.
    static std::optional<QFont> Choose(QWidget* parent, const QFont& current,
                                       int minPoints = kMinPoints, int maxPoints = kMaxPoints);

private:
    void UpdateSample();

    QFontComboBox* face_;
    QSpinBox* size_;
    QLabel* sample_;
};

}  // namespace tarnwick::gui
