#include "sensors/RecordingFile.h"

namespace sensors {

namespace {

Recording readAll(RecordingReader& reader, QString* error) {
    Recording recording;
    if (!reader.open(error))
        return {};
    recording.format = reader.format();
    recording.hasGravity = reader.hasGravity();
    recording.rate = reader.rate();
    recording.notice = reader.notice();
    Acceleration row;
    while (reader.next(&row))
        recording.rows.push_back(row);
    if (!reader.error().isEmpty()) {
        *error = reader.error();
        return {};
    }
    recording.warning = reader.warning();
    return recording;
}

} // namespace

Recording parseRecording(std::string_view text, RecordingFault* fault) {
    RecordingReader reader(text, QStringLiteral("text"));
    QString error;
    Recording recording = readAll(reader, &error);
    if (recording.rows.empty())
        *fault = RecordingFault{reader.errorLine(), reader.errorReason()};
    return recording;
}

Recording loadRecording(const QString& path, QString* error) {
    RecordingReader reader(path);
    return readAll(reader, error);
}

} // namespace sensors
