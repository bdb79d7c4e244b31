#include "features/analysis/RecordingLoader.h"

#include "sensors/RecordingReader.h"

#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <functional>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace features::analysis {

bool summarizeRecording(const QString& path, RecordingSummary* summary, QString* error,
                        const std::atomic_bool* cancelled) {
    *summary = {};
    sensors::RecordingReader reader(path);
    if (!reader.open(error))
        return false;
    sensors::Acceleration row;
    double last = 0.0;
    double peak = 0.0;
    while (reader.next(&row)) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            if (error)
                error->clear();
            return false;
        }
        ++summary->rows;
        last = row.timestamp;
        peak = std::max(peak, std::sqrt(row.x * row.x + row.y * row.y + row.z * row.z));
    }
    if (!reader.error().isEmpty() || summary->rows == 0) {
        if (error)
            *error = reader.error().isEmpty()
                         ? QStringLiteral("Cannot replay \"%1\": no rows").arg(path)
                         : reader.error();
        return false;
    }
    // Times as the held series has them, in float, so that the list and the plot agree.
    summary->duration = summary->rows < 2 ? 0.0 : double(float(last));
    summary->rateHz = summary->duration > 0.0 ? double(summary->rows - 1) / summary->duration : 0.0;
    summary->peak = float(peak);
    return true;
}

namespace {

// Reading and summing never wait on the user, while the main thread's readings and timers must
// keep their time: the workers yield the CPU to it (on Linux a nice value is per thread).
void yieldToTheMainThread() {
    ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 19);
}

} // namespace

// The loader as its workers reach it: null once the loader is gone.
struct RecordingLoader::Owner {
    QMutex mutex;
    RecordingLoader* loader = nullptr;

    // Runs `deliver` on the loader's thread, unless the loader is gone by then.
    void post(std::function<void(RecordingLoader*)> deliver) {
        const QMutexLocker lock(&mutex);
        if (!loader)
            return;
        RecordingLoader* to = loader;
        QMetaObject::invokeMethod(
            to, [to, deliver = std::move(deliver)] { deliver(to); }, Qt::QueuedConnection);
    }
};

RecordingLoader::RecordingLoader(std::size_t rowLimit, QObject* parent)
    : QObject(parent), rowLimit_(rowLimit), pool_(new QThreadPool), numbersPool_(new QThreadPool),
      owner_(std::make_shared<Owner>()) {
    // One summary and one load at a time, plus a cancelled load still on its way out.
    pool_->setMaxThreadCount(3);
    numbersPool_->setMaxThreadCount(1);
    owner_->loader = this;
}

RecordingLoader::~RecordingLoader() {
    cancel();
    {
        const QMutexLocker lock(&owner_->mutex);
        owner_->loader = nullptr;
    }
    // Summaries and loads notice the cancellation within a row, but a worker at the lowest
    // priority on a busy machine may wait long for the CPU to notice it, and a transform cannot
    // stop at all: a pool still busy is left to end on its own, reporting to nobody, so that
    // the quit on a signal never waits for it.
    for (QThreadPool* pool : {pool_, numbersPool_}) {
        pool->clear();
        if (pool->waitForDone(pool == pool_ ? 50 : 0))
            delete pool;
    }
}

std::size_t RecordingLoader::defaultRowLimit() {
    bool ok = false;
    const qulonglong bytes = qEnvironmentVariable("WOBBLESTAR_RECORDING_MEMORY").toULongLong(&ok);
    if (ok && bytes > 0)
        return std::size_t(bytes / RecordingSeries::kBytesPerRow);
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::size_t(1) << 24; // 16 M rows, 450 MB: a guess that fits any machine running Qt
    return std::size_t(pages) * std::size_t(pageSize) / 4 / RecordingSeries::kBytesPerRow;
}

RecordingLoader::Token RecordingLoader::renew(Token& token) {
    token->store(true);
    token = std::make_shared<std::atomic_bool>(false);
    return token;
}

void RecordingLoader::summarize(const QStringList& paths) {
    const Token cancelled = renew(summaryCancelled_);
    if (paths.isEmpty())
        return;
    pool_->start([owner = owner_, paths, cancelled] {
        yieldToTheMainThread();
        for (const QString& path : paths) {
            RecordingSummary summary;
            QString error;
            summarizeRecording(path, &summary, &error, cancelled.get());
            if (*cancelled)
                return;
            owner->post([path, summary, error, cancelled](RecordingLoader* loader) {
                if (!*cancelled)
                    emit loader->summarized(path, summary, error);
            });
        }
    });
}

void RecordingLoader::load(const QString& path) {
    const Token cancelled = renew(loadCancelled_);
    loading_ = path;
    const std::size_t limit = rowLimit_;
    pool_->start([owner = owner_, path, limit, cancelled] {
        yieldToTheMainThread();
        auto recording = std::make_shared<RecordingSeries>();
        recording->setRowLimit(limit);
        QString error;
        if (!recording->load(path, &error, cancelled.get()))
            recording.reset();
        if (*cancelled)
            return;
        owner->post([path, recording, error, cancelled](RecordingLoader* loader) {
            if (*cancelled)
                return;
            loader->loading_.clear();
            emit loader->loaded(path, recording, error);
        });
    });
}

void RecordingLoader::computeNumbers(std::shared_ptr<const RecordingSeries> recording, double from,
                                     double to, Series series) {
    const unsigned request = ++numbersRequest_;
    // A request not yet started is replaced; one running finishes, and is dropped on arrival.
    numbersPool_->clear();
    numbersPool_->start([owner = owner_, recording, from, to, series, request] {
        yieldToTheMainThread();
        const SpanStatistics statistics = spanStatistics(*recording, from, to);
        Spectrum shown;
        if (statistics.samples > 0) {
            const std::size_t first = recording->rowAtOrAfter(statistics.from);
            shown =
                spectrum(*recording, series, first, first + statistics.samples, statistics.rateHz);
        }
        owner->post([statistics, shown, series, request](RecordingLoader* loader) {
            if (request == loader->numbersRequest_)
                emit loader->numbersComputed(statistics, shown, series);
        });
    });
}

void RecordingLoader::cancel() {
    renew(summaryCancelled_);
    renew(loadCancelled_);
    loading_.clear();
    ++numbersRequest_;
    numbersPool_->clear();
}

} // namespace features::analysis
