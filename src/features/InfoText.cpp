#include "features/InfoText.h"

namespace features {

QString infoHtml(const InfoFacts& facts) {
    const auto escaped = [](const QString& text) { return text.toHtmlEscaped(); };
    return QStringLiteral(
               "<h4>Graph</h4>"
               "<p>The last 150 readings of each axis in g, X in red, Y in green, Z in blue, on a "
               "scale of &plusmn;3&nbsp;g with a line at every g. With the high-pass filter on, "
               "gravity and slow tilts are taken out and the G-Force lines show the smoothed "
               "reading of each axis; with it off they read +0.00. Pause stops the drawing, not "
               "the sampling.</p>"
               "<h4>G-Meters</h4>"
               "<p>Three needles, X at the top, Y on the left, Z on the right, turning 30&deg; "
               "per g: clockwise for positive readings, level at &plusmn;3&nbsp;g.</p>"
               "<h4>Recording</h4>"
               "<p>One line of X, Y and Z every 0.10 to 0.75&nbsp;s between a start and an end "
               "time. The log is kept when you stop and can be mailed or saved; every sample also "
               "goes to a CSV file that <tt>--source replay:FILE</tt> plays back.</p>"
               "<h4>Settings</h4>"
               "<p>Sample rate (40, 80 or 120 per second), the axes shown in the graph, the "
               "filter and the skin take effect when you press Done.</p>"
               "<h4>Units and axes</h4>"
               "<p>1&nbsp;g is standard gravity, 9.80665&nbsp;m/s&sup2;. X points to the right of "
               "the screen, Y to its top and Z out of it, so a device lying face up reads "
               "(0, 0, &minus;1) and one held upright reads (0, &minus;1, 0).</p>"
               "<p align=\"center\"><img src=\":/help/axes.png\" width=\"252\" "
               "height=\"135\"></p>"
               "<h4>Keys</h4>"
               "<p>Space pauses or resumes; Esc goes back, closes a dialog or leaves full "
               "screen; F11 switches full screen; Ctrl+O opens the recordings; Ctrl+Shift+O "
               "replays a file; Ctrl+Q quits.</p>"
               "<h4>This copy</h4>"
               "<p>Version %1<br>Sensor: %2<br>Settings and the last log: <tt>%3</tt><br>"
               "Recordings: <tt>%4</tt></p>")
        .arg(escaped(facts.version), escaped(facts.source), escaped(facts.settingsFile),
             escaped(facts.recordingsPath));
}

} // namespace features
