#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace Ui {
class Wobblestar;
}

namespace app {

// The preferences kept between runs, and which control each one belongs to. The store is the
// platform's per-application settings file (QSettings); this table is the only place that
// names its keys.
class SettingsTable {
public:
    // The preference keys and what each holds.
    static constexpr const char* kRateKey = "segment";    // sampling-rate index 0..2
    static constexpr const char* kSkinKey = "design";     // skin index 0..3
    static constexpr const char* kPeriodKey = "segment2"; // recording-period index 0..3
    static constexpr const char* kLogKey = "text";        // the recording log

    explicit SettingsTable(Ui::Wobblestar& ui) : ui_(ui) {}

    // Sets the log, the sampling rate, the axis and filter switches, the recording period and
    // the skin from the store. Returns the message about a damaged store (which is then set
    // aside and started afresh), or an empty string.
    QString restore();
    // Writes the sampling rate, the skin and the four switches. The period and the log are
    // written by the recording, when it starts and stops. When
    // the store could not be written: false, with `*error` naming the file and the reason.
    bool save(QString* error) const;

    // Tells of a damaged store: on standard error, and in a box over `window` when there is a
    // screen to show it on. An empty message shows nothing.
    static void showMessage(const QString& message, QWidget* window,
                            const QString& title = QObject::tr("Settings reset"));

    static void storePeriod(int index);
    // Writes the log. When it cannot: false, with `*error` naming the file and the reason.
    static bool storeLog(const QString& log, QString* error);
    // The stored sampling-rate index, or 0 (40 per second) when the stored one is not 0..2.
    static int sampleRateIndex();

private:
    Ui::Wobblestar& ui_;
};

} // namespace app
