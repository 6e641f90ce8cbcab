// What --emulate=replay:FILE may name: a recording as --record writes it, a flight
// recording (the same, gzip-compressed), or a support report (a .tar.gz whose
// "recording.jsonl" member is the run's recording). Told apart by their content, not
// their names.
#pragma once

#include <optional>
#include <string>

#include "emulator/recording_reader.h"

namespace tavo {

// The name of the recording's member in a support report.
inline constexpr const char* kReportRecordingName = "recording.jsonl";

// The recording in the file at path, or nothing with error saying why (as
// ReadRecordingFile does; a compressed file that does not decompress, or a report that
// holds no recording, says so).
std::optional<TRecording> ReadReplaySource(const std::string& path, std::string& error);

}  // namespace tavo
