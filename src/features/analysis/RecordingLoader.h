#pragma once

#include "features/analysis/RecordingSeries.h"
#include "features/analysis/SpanStatistics.h"

#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <memory>

namespace features::analysis {

// What the list of recordings shows of a file.
struct RecordingSummary {
    std::size_t rows = 0;
    double duration = 0.0; // s, first row to last
    double rateHz = 0.0;   // rows per second over the whole file
    float peak = 0.0f;     // largest |a|, g
};

// Reads a recording row by row without holding it. False with `error` set when it cannot be
// read; false with `error` empty when `cancelled` turned true (checked on every row).
bool summarizeRecording(const QString& path, RecordingSummary* summary, QString* error,
                        const std::atomic_bool* cancelled = nullptr);

// Does the recordings window's file work away from the main thread, so that the live readings,
// a recording's timers and the quit on a signal keep their time whatever is being read:
// summaries of the listed files (one streaming pass each, in the order asked), the loading of
// the chosen one, and the numbers and spectrum of a span. Results come back as signals on the
// thread the loader lives in; a result that was asked for again or cancelled never comes.
//
// Every read checks for cancellation on every row, so a new choice or the loader's end stops
// the old read at once; the loader's end waits for no worker longer than a moment.
//
//   RecordingLoader loader;
//   connect(&loader, &RecordingLoader::loaded, ...);
//   loader.summarize(paths); // newest first
//   loader.load(chosen);
class RecordingLoader : public QObject {
    Q_OBJECT
public:
    // `rowLimit`: rows of one recording held before it is held at a coarser level (see
    // RecordingSeries::setRowLimit).
    explicit RecordingLoader(std::size_t rowLimit = defaultRowLimit(), QObject* parent = nullptr);
    ~RecordingLoader() override;

    // A quarter of the machine's memory at RecordingSeries::kBytesPerRow. The environment
    // variable WOBBLESTAR_RECORDING_MEMORY (bytes) replaces the quarter.
    static std::size_t defaultRowLimit();
    std::size_t rowLimit() const { return rowLimit_; }

    // Summarises `paths` one after the other, in this order; replaces any earlier list.
    void summarize(const QStringList& paths);
    // Loads `path`, abandoning a load in progress.
    void load(const QString& path);
    // The file being loaded; empty when none.
    QString loading() const { return loading_; }
    // Works out the numbers of [from, to] and the spectrum of `series` over it, replacing an
    // earlier request that has not started.
    void computeNumbers(std::shared_ptr<const RecordingSeries> recording, double from, double to,
                        Series series);
    // Abandons every summary, load and request.
    void cancel();

signals:
    // `error` is empty when `summary` holds.
    void summarized(const QString& path, const analysis::RecordingSummary& summary,
                    const QString& error);
    // `recording` is null when the file could not be read; `error` says why.
    void loaded(const QString& path, std::shared_ptr<analysis::RecordingSeries> recording,
                const QString& error);
    void numbersComputed(const analysis::SpanStatistics& statistics,
                         const analysis::Spectrum& spectrum, analysis::Series series);

private:
    using Token = std::shared_ptr<std::atomic_bool>;
    struct Owner;

    static Token renew(Token& token);

    std::size_t rowLimit_;
    // Summaries and loads; and the numbers, one at a time. Workers report through `owner_`,
    // which forgets the loader when it goes; a pool still busy then is left to end on its own.
    QThreadPool* pool_ = nullptr;
    QThreadPool* numbersPool_ = nullptr;
    std::shared_ptr<Owner> owner_;
    Token summaryCancelled_ = std::make_shared<std::atomic_bool>(false);
    Token loadCancelled_ = std::make_shared<std::atomic_bool>(false);
    QString loading_;
    unsigned numbersRequest_ = 0;
};

} // namespace features::analysis
