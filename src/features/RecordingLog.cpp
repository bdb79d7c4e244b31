#include "features/RecordingLog.h"

#include <QFontMetricsF>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <charconv>
#include <cstdlib>

namespace features::RecordingLog {

namespace {

// printf's "%+.2f" without printf: QCoreApplication sets the C locale from the environment, and
// a German or French locale would turn the decimal point into a comma.
void appendSigned2(QString& out, double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (buffer[0] != '-')
        out += QLatin1Char('+');
    out += QLatin1StringView(buffer, result.ptr);
}

} // namespace

std::optional<Period> periodForIndex(int index) {
    switch (index) {
    case 0:
        return Period{QStringLiteral("0.10s"), 0.1};
    case 1:
        return Period{QStringLiteral("0.25s"), 0.25};
    case 2:
        return Period{QStringLiteral("0.50s"), 0.5};
    case 3:
        return Period{QStringLiteral("0.75s"), 0.75};
    default:
        return std::nullopt;
    }
}

QString labelForIndex(int index) {
    const auto period = periodForIndex(index);
    return period ? period->label : QStringLiteral("none");
}

QString timeStamp(const QDateTime& moment) {
    const int offset = moment.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString header(const QString& label, const QDateTime& started) {
    return QStringLiteral("Recording Frequency: ") + label +
           QStringLiteral(" \n\nRecording Started:\n") + timeStamp(started) + QLatin1Char('\n');
}

QString sampleLine(float x, float y, float z) {
    static const QLatin1StringView gap("              "); // 14 blanks
    QString line;
    line.reserve(64);
    line += QLatin1StringView("\n[X]: ");
    appendSigned2(line, x);
    line += gap;
    line += QLatin1StringView("[Y]: ");
    appendSigned2(line, y);
    line += gap;
    line += QLatin1StringView("[Z]: ");
    appendSigned2(line, z);
    return line;
}

QString footer(const QDateTime& ended) {
    return QStringLiteral("\n\nRecording Ended:\n") + timeStamp(ended);
}

void appendToView(QPlainTextEdit* view, const QString& text) {
    QScrollBar* scrollBar = view->verticalScrollBar();
    const bool followEnd = scrollBar->value() == scrollBar->maximum();

    QTextDocument* document = view->document();
    // Replacing the whole text also dropped the undo history on every tick; keeping one undo
    // step per tick instead would grow without bound during a long recording.
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    document->setUndoRedoEnabled(undo);

    if (followEnd)
        scrollBar->setValue(scrollBar->maximum());
}

void fitSampleLinesToView(QPlainTextEdit* view, int largestPixelSize) {
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->ensurePolished();
    // The widest line the log holds; the header and footer lines are shorter.
    const QString widest = sampleLine(-8.88f, -8.88f, -8.88f).mid(1);
    // Room for text: the viewport without scroll bars, less the document's margins on both
    // sides and the vertical bar that a long log brings in.
    const qreal room = view->maximumViewportSize().width() -
                       2.0 * view->document()->documentMargin() -
                       view->verticalScrollBar()->sizeHint().width();
    QFont font = view->font();
    int size = largestPixelSize;
    for (; size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetricsF(font).horizontalAdvance(widest) <= room)
            break;
    }
    font.setPixelSize(size);
    view->setFont(font);
    // Half-transparent by default, the placeholder would fade to 4:1 on the log's dark panel.
    QPalette palette = view->palette();
    palette.setColor(QPalette::PlaceholderText, QColor(0xb4, 0xba, 0xb4));
    view->setPalette(palette);
}

} // namespace features::RecordingLog
