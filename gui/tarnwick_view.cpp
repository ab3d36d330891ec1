#include "gui/tarnwick_view.h"

#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

#include "gui/font_dialog.h"
#include "gui/ui_thread.h"

namespace tarnwick::gui {
namespace {

// Lines end with "\r\n" inside the texts; the text control keeps paragraphs.
QString ToControlText(const std::string& text) {
    QString t = QString::fromStdString(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

}  // namespace

CTarnwickView::CTarnwickView(QWidget* parent) : QTextEdit(parent) {
    setObjectName(QStringLiteral("LogView"));
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    setLineWrapMode(QTextEdit::NoWrap);
    setReadOnly(true);
    // Keyboard selection and copying stay possible in a read-only log.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    SetDefaultLogFormat();
}

QString CTarnwickView::DefaultFace() {
    static const QString face = [] {
        const QString wanted = QStringLiteral("Courier New");
        if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive)) return wanted;
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    }();
    return face;
}

qreal CTarnwickView::TabStopPixels() const {
    return kTabStopTwips / 1440.0 * logicalDpiX();
}

QColor CTarnwickView::ToColor(std::uint32_t colour) {
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

std::uint32_t CTarnwickView::FromColor(const QColor& colour) {
    return static_cast<std::uint32_t>(colour.red()) |
           (static_cast<std::uint32_t>(colour.green()) << 8) |
           (static_cast<std::uint32_t>(colour.blue()) << 16);
}

template <typename Fn>
void CTarnwickView::KeepModified(Fn&& fn) {
    const bool modified = isModified ? isModified() : false;
    fn();
    if (setModified) setModified(modified);
}

void CTarnwickView::ApplyTabStop() {
    const qreal stop = TabStopPixels();
    QTextOption option = document()->defaultTextOption();
    option.setTabs({QTextOption::Tab(stop, QTextOption::LeftTab)});
    document()->setDefaultTextOption(option);

    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat block;
    block.setTabPositions({QTextOption::Tab(stop, QTextOption::LeftTab)});
    cursor.mergeBlockFormat(block);
}

void CTarnwickView::SetDefaultLogFormat() {
    QTextCharFormat format;
    format.setFontFamilies({DefaultFace()});
    format.setFontFixedPitch(true);
    format.setFontStyleHint(QFont::TypeWriter);
    format.setFontPointSize(kDefaultPoints);
    format.setFontWeight(QFont::Normal);
    format.setFontItalic(false);
    format.setFontUnderline(false);
    format.setFontStrikeOut(false);
    format.setForeground(ToColor(kLogBlack));
    logFormat_ = format;

    QFont font(DefaultFace(), kDefaultPoints);
    font.setStyleHint(QFont::TypeWriter);
    document()->setDefaultFont(font);

    // Face and size of the whole log go back to the default. Colours and
    // weights stay: a red line written while a document was loading is
    // still a failure after the view has been set up for the document.
    QTextCharFormat face;
    face.setFontFamilies({DefaultFace()});
    face.setFontFixedPitch(true);
    face.setFontStyleHint(QFont::TypeWriter);
    face.setFontPointSize(kDefaultPoints);
    face.setFontStrikeOut(false);
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.mergeCharFormat(face);
    ApplyTabStop();

    cursor.movePosition(QTextCursor::Start);
    setTextCursor(cursor);
    setCurrentCharFormat(format);
}

void CTarnwickView::OnInitialUpdate() {
    KeepModified([this] {
        SetDefaultLogFormat();
        setReadOnly(true);
    });
}

void CTarnwickView::AppendLog(const std::string& text, std::uint32_t colour, unsigned effects) {
    CallOnThreadOf(this, [this, t = ToControlText(text), colour, effects] {
        AppendOnUiThread(t, colour, effects);
    });
}

void CTarnwickView::AppendOnUiThread(const QString& text, std::uint32_t colour, unsigned effects) {
    KeepModified([&] {
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        // The face and size of the log's end; colour and effects of the line.
        QTextCharFormat format = logFormat_;
        format.setForeground(ToColor(colour));
        format.setFontWeight((effects & kLogBold) ? QFont::Bold : QFont::Normal);
        format.setFontItalic((effects & kLogItalic) != 0);
        format.setFontUnderline((effects & kLogUnderline) != 0);
        cursor.insertText(text, format);
        setTextCursor(cursor);
        ensureCursorVisible();
    });
}

void CTarnwickView::SetLogFormat(std::uint32_t colour, unsigned effects) {
    CallOnThreadOf(this, [this, colour, effects] {
        KeepModified([&] {
            QTextCharFormat format;
            format.setForeground(ToColor(colour));
            format.setFontWeight((effects & kLogBold) ? QFont::Bold : QFont::Normal);
            format.setFontItalic((effects & kLogItalic) != 0);
            format.setFontUnderline((effects & kLogUnderline) != 0);
            QTextCursor cursor = textCursor();
            if (cursor.hasSelection()) cursor.mergeCharFormat(format);
            mergeCurrentCharFormat(format);
        });
    });
}

void CTarnwickView::ClearLog() {
    CallOnThreadOf(this, [this] {
        KeepModified([this] {
            clear();
            // An empty log keeps the face and size it had.
            setCurrentCharFormat(logFormat_);
            ApplyTabStop();
        });
    });
}

void CTarnwickView::OnFormatFont() {
    KeepModified([this] {
        QFont current(logFormat_.fontFamilies().toStringList().value(0, DefaultFace()));
        current.setPointSizeF(logFormat_.fontPointSize() > 0 ? logFormat_.fontPointSize()
                                                               : kDefaultPoints);
        const std::optional<QFont> chosen =
            fontChooser ? fontChooser(current)
                        : LogFontDialog::Choose(this, current, LogFontDialog::kMinPoints,
                                                LogFontDialog::kMaxPoints);
        if (chosen) {
            // Face and size only: red and bold lines keep colour and weight.
            QTextCharFormat change;
            change.setFontFamilies({chosen->family()});
            change.setFontPointSize(chosen->pointSizeF() > 0 ? chosen->pointSizeF()
                                                              : kDefaultPoints);
            change.setFontFixedPitch(chosen->fixedPitch());
            change.setFontStrikeOut(chosen->strikeOut());
            QTextCursor cursor(document());
            cursor.select(QTextCursor::Document);
            cursor.mergeCharFormat(change);
            logFormat_.merge(change);
            QFont base = chosen.value();
            document()->setDefaultFont(base);
        }
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        setTextCursor(end);
        setCurrentCharFormat(logFormat_);
    });
}

}  // namespace tarnwick::gui
