#include "sensors/RecordingFile.h"

namespace platform {

namespace {

Recording readAll(RecordingReader& reader, QString* error) {
    Recording recording;
    if (!reader.open(error))
        return {};
    recording.format = reader.format();
    recording.hasGravity = reader.hasGravity();
    Acceleration row;
    while (reader.next(&row))
        recording.rows.push_back(row);
    if (!reader.error().isEmpty()) {
        if (error)
            *error = reader.error();
        return {};
    }
    recording.warning = reader.warning();
    return recording;
}

} // namespace

Recording parseRecording(std::string_view text, RecordingFault* fault) {
    RecordingReader reader(text, QStringLiteral("text"));
    Recording recording = readAll(reader, nullptr);
    if (recording.rows.empty() && fault)
        *fault = RecordingFault{reader.errorLine(), reader.errorReason()};
    return recording;
}

Recording loadRecording(const QString& path, QString* error) {
    RecordingReader reader(path);
    return readAll(reader, error);
}

} // namespace platform
