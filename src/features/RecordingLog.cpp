#include "features/RecordingLog.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <charconv>
#include <cstdlib>

namespace features::RecordingLog {

namespace {

// The share of a blank's width that a gap between a sample line's values is drawn with. Half of
// a sample line is those gaps: drawn at a fifth, a gap still parts X, Y and Z by nearly three
// digits, and the digits can be drawn large enough to tell 0 from 8.
constexpr int kGapBlankPercent = 20;

// Every run of two or more blanks, drawn narrow.
QList<QTextLayout::FormatRange> gapFormats(const QString& text) {
    QTextCharFormat narrow;
    narrow.setFontLetterSpacingType(QFont::PercentageSpacing);
    narrow.setFontLetterSpacing(kGapBlankPercent);
    QList<QTextLayout::FormatRange> gaps;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] != QLatin1Char(' ')) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && text[end] == QLatin1Char(' '))
            ++end;
        if (end - i >= 2)
            gaps.append({int(i), int(end - i), narrow});
        i = end;
    }
    return gaps;
}

// Only the drawing changes: the document, and so what is stored, mailed and copied, keeps
// every blank.
class GapNarrower : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        for (const QTextLayout::FormatRange& gap : gapFormats(text))
            setFormat(gap.start, gap.length, gap.format);
    }
};

// How wide `line` is drawn in `font`, gaps narrowed.
qreal drawnWidth(const QString& line, const QFont& font) {
    QTextLayout layout(line, font);
    layout.setFormats(gapFormats(line));
    layout.beginLayout();
    const QTextLine only = layout.createLine();
    layout.endLayout();
    return only.naturalTextWidth();
}

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
    // Narrowed now, not on the highlighter's own next turn of the event loop: the view keeps
    // the widest line it ever laid out as its scrolling width, so no line may be laid out
    // wide at the chosen size.
    if (!view->document()->findChild<GapNarrower*>())
        (new GapNarrower(view->document()))->rehighlight();
    QFont font = view->font();
    int size = largestPixelSize;
    for (; size > 6; --size) {
        font.setPixelSize(size);
        if (drawnWidth(widest, font) <= room)
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
