#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

class QPlainTextEdit;

// The recording log's text: the period table, the header, one line per tick and the footer.
// Pure text building; the recording screen owns the timer and the text view.
namespace features::RecordingLog {

struct Period {
    QString label;  // as written into the header, e.g. "0.10s"
    double seconds; // the repeating timer's period
};

// The period of the recording-period control's index 0..3 (0.10, 0.25, 0.50, 0.75 s). Any other
// index has no period: no timer is started for it.
std::optional<Period> periodForIndex(int index);

// The header's label for any index: the table's label, or "none" for an index outside 0..3
// (the header still says that no period was chosen).
QString labelForIndex(int index);

// "2026-12-08 14:03:22 +0000": the moment in its own time zone, with that zone's offset from
// UTC. Pass QDateTime::currentDateTime() for the local time.
QString timeStamp(const QDateTime& moment);

// "Recording Frequency: <label> \n\nRecording Started:\n<time>\n"
QString header(const QString& label, const QDateTime& started);

// "\n[X]: %+.2f              [Y]: %+.2f              [Z]: %+.2f", the floats widened to double.
// Written with C-locale digits whatever the user's locale; -0.004 prints as -0.00.
QString sampleLine(float x, float y, float z);

// "\n\nRecording Ended:\n<time>"
QString footer(const QDateTime& ended);

// Appends `text` at the end of the view's document without replacing the document, so a tick
// costs the same with 100 lines or 36,000 lines. Afterwards view->toPlainText() equals the
// earlier toPlainText() + text, exactly as setPlainText(toPlainText() + text) would leave it.
// The user's cursor, selection and scroll position are left alone; when the view was scrolled
// to the end it follows the new line.
void appendToView(QPlainTextEdit* view, const QString& text);

// Sizes the view's font so that a whole sample line fits its width beside a vertical scroll
// bar, at most `largestPixelSize`, with the gaps between its values drawn narrow (the text
// keeps every blank), and turns wrapping off: a sample line is read across, X, Y and Z
// together, never broken. The layout is scaled as a whole, so the size chosen for the
// view's width in points fits at every window size. Call once the view has its size and style.
// Also gives the empty log's placeholder a colour that reads on the dark panel.
void fitSampleLinesToView(QPlainTextEdit* view, int largestPixelSize = 16);

} // namespace features::RecordingLog
