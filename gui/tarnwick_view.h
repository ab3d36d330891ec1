#pragma once
// The log view: the only view of the program, a read-only rich-text log that
// every operation writes into line by line, normal lines in black, failures
// and closing lines in red bold. Any thread may append: a worker's call is
// handed to the window's thread and waits until it is done.
#include <QTextCharFormat>
#include <QTextEdit>
#include <functional>
#include <optional>

#include "ports/log.h"

namespace tarnwick::gui {

class CTarnwickView : public QTextEdit, public Log {
    Q_OBJECT
public:
    // Default log format: Courier New 11 pt (or the system's fixed-pitch
    // face where that one is missing), black, regular; one tab stop at
    // 4544 twips.
    static constexpr int kDefaultPoints = 11;
    static constexpr int kTabStopTwips = 4544;

    explicit CTarnwickView(QWidget* parent = nullptr);

    // The document's modified flag, which logging must never change.
    // Without these the view has no document to protect.
    std::function<bool()> isModified;
    std::function<void(bool)> setModified;

    // Log port.
    void AppendLog(const std::string& text, std::uint32_t colour = kLogBlack,
                   unsigned effects = kLogNormal) override;
    void SetLogFormat(std::uint32_t colour, unsigned effects) override;
    void ClearLog() override;

    void SetDefaultLogFormat();
    // For every new or opened document: the default format, read-only.
    void OnInitialUpdate();
    // Command 57696: another face and size for the whole log; colours and
    // weights stay. chooser replaces the font dialog (tests).
    void OnFormatFont();
    std::function<std::optional<QFont>(const QFont&)> fontChooser;
    // Command 57635: the log cannot be cut.
    void OnEditCut() {}

    // The face of the default format on this system.
    static QString DefaultFace();
    // The tab stop in device pixels of this view.
    qreal TabStopPixels() const;
    // Face and size that appended text takes.
    const QTextCharFormat& LogFormat() const { return logFormat_; }

    // 0x00BBGGRR to a colour and back.
    static QColor ToColor(std::uint32_t colour);
    static std::uint32_t FromColor(const QColor& colour);

private:
    void AppendOnUiThread(const QString& text, std::uint32_t colour, unsigned effects);
    void ApplyTabStop();
    template <typename Fn>
    void KeepModified(Fn&& fn);

    QTextCharFormat logFormat_;  // face and size of the log's end
};

}  // namespace tarnwick::gui
