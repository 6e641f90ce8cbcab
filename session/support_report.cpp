#include "session/support_report.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/archive_input.h"
#include "platform/report_archive.h"
#include "platform/run_retention.h"
#include "platform/system_facts.h"
#include "session/privacy.h"
#include "session/replay_source.h"
#include "session/run_history.h"
#include "session/version.h"

namespace tavo {

namespace {

constexpr char kFolder[] = "tavoflash-report/";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of a "key: value" line in the run log's header (before its first empty line).
std::string HeaderField(const std::string& log, const std::string& key) {
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line) && !line.empty()) {
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  }
  return "not in the run log";
}

std::string Readme(bool recording, const std::string& name) {
  std::string text =
      "TAVOFlash support report\n"
      "\n"
      "What each file is:\n"
      "  README.txt       this text\n"
      "  run.log          the run's log: its header (program, transport, device, drive,\n"
      "                   image, what sysfs said of the drive), every line with its time,\n"
      "                   the result and the outcome\n";
  if (recording) {
    text +=
        "  recording.jsonl  every command the program sent to the drive during the session\n"
        "                   of this run and every reply (format: drive/recording_format.h in\n"
        "                   the source)\n";
  }
  text +=
      "  system.txt       the program and image that made the run and the report, the\n"
      "                   transport, the drive as sysfs saw it, the kernel release, the\n"
      "                   distribution, and what is missing from this report\n"
      "  journal.txt      the program's entries in the systemd journal for this run, or why\n"
      "                   there are none\n"
      "\n"
      "User names, home folders, host names and the machine id were replaced by placeholders\n"
      "such as <user-1>, <home-1>, <host-1> and <machine-id-1> (the same value always by the\n"
      "same placeholder). No drive serial number is read. Member owners and times are neutral.\n"
      "\n";
  if (recording) {
    text +=
        "To watch the run again on a virtual drive that answers as the user's drive did:\n"
        "  tavoflash-cli --emulate=replay:" +
        name +
        " --yes\n"
        "It ends in the same class, with the same failure lines and exit status.\n";
  } else {
    text += "This report holds no recording, so it cannot be replayed (see system.txt).\n";
  }
  return text;
}

}  // namespace

std::string DefaultReportName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "tavoflash-report-%Y%m%d-%H%M%S.tar.gz", &local);
  return name;
}

TReportResult WriteSupportReport(const TReportRequest& request) {
  TReportResult result;
  result.path = request.target.empty() ? DefaultReportName() : request.target;
  const std::vector<TPastRun> runs = ReadRunHistory(request.runLogDirectory);
  if (runs.empty()) {
    result.error =
        "no run is logged" +
        (request.runLogDirectory.empty() ? std::string() : " in " + request.runLogDirectory) +
        ": there is nothing to report yet";
    return result;
  }
  if (request.run < 1 || static_cast<size_t>(request.run) > runs.size()) {
    result.error = "there is no run " + std::to_string(request.run) + ": " +
                   std::to_string(runs.size()) + " run" + (runs.size() == 1 ? " is" : "s are") +
                   " logged (tavoflash-cli --history lists them, 1 the newest)";
    return result;
  }
  const TPastRun& run = runs[static_cast<size_t>(request.run) - 1];
  const TPrivacyScrubber scrubber(ReadPrivateValues());
  const std::string log = ReadText(run.path);

  std::vector<TArchiveMember> members;
  // The recording is stored plainly in the archive (which is compressed as a whole).
  std::string recording;
  const std::string recordingPath = RecordingOfLog(run.path);
  std::string recordingNote = "recording: recording.jsonl";
  std::error_code ec;
  if (!std::filesystem::exists(recordingPath, ec)) {
    recordingNote =
        "recording: none (the run's recording is no longer kept: it was rotated away, or the "
        "run was made by a version without flight recordings)";
    result.notes.push_back(
        "The run's recording is no longer kept: the report holds no recording and cannot be "
        "replayed.");
  } else {
    std::string why;
    const std::optional<std::string> text =
        ReadCompressedText(recordingPath, kReportRecordingName, size_t{256} << 20, why);
    if (text) {
      recording = *text;
    } else {
      recordingNote = "recording: none (the run's recording cannot be read: " + why + ")";
      result.notes.push_back("The run's recording cannot be read (" + why +
                             "): the report holds no recording.");
    }
  }

  std::vector<std::string> journal;
  std::string journalWhy;
  const bool journalOk = ReadRunJournal(run.path, journal, journalWhy);
  std::string journalText;
  if (journalOk) {
    for (const std::string& line : journal) journalText += line + "\n";
  } else {
    journalText = "No journal entries: " + journalWhy + ".\n";
  }

  const TSystemFacts facts = ReadSystemFacts();
  std::string system =
      "run by: " + HeaderField(log, "program") + "\nrun's image: " + HeaderField(log, "image") +
      "\ntransport: " + HeaderField(log, "transport") + "\ndevice: " + HeaderField(log, "device") +
      "\ndrive: " + HeaderField(log, "drive") + "\nsysfs: " + HeaderField(log, "sysfs") +
      "\nrun log: " + std::filesystem::path(run.path).filename().string() + "\n" + recordingNote +
      "\njournal: " + (journalOk ? "journal.txt" : "none (" + journalWhy + ")") +
      "\nreport made by: " + request.program + " " + ProgramVersion();
  if (request.image != nullptr)
    system += "\nreport maker's image: " + ImageDescription(*request.image);
  system +=
      "\nkernel release: " + facts.kernelRelease + "\ndistribution: " + facts.distribution + "\n";

  const std::string name = std::filesystem::path(result.path).filename().string();
  members.push_back(
      {std::string(kFolder) + "README.txt", scrubber.Scrub(Readme(!recording.empty(), name))});
  members.push_back({std::string(kFolder) + "run.log", scrubber.Scrub(log)});
  if (!recording.empty()) {
    members.push_back({std::string(kFolder) + kReportRecordingName, scrubber.Scrub(recording)});
  }
  members.push_back({std::string(kFolder) + "system.txt", scrubber.Scrub(system)});
  members.push_back({std::string(kFolder) + "journal.txt", scrubber.Scrub(journalText)});

  std::string why;
  if (!WriteTarGz(result.path, members, why)) {
    result.error = "cannot write the report to " + result.path + ": " + why;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace tavo
