// Which of two firmware revisions is newer, and what a run does about it: the words the last
// question and the window's Start tips add, and whether a drive is flashed, left alone or
// refused. Both front ends decide here.
//
// Revisions compare as dotted numbers ("1.05" < "1.08" < "1.10", "1.9" < "2.0"), blanks
// around them left out. The first number compares by value. Each later number is read two
// ways, as a whole number and as decimal digits after the point ("1.5" as 1.50): when the
// readings disagree, as for "1.5" against "1.05" or "1.9" against "1.10", which is newer
// cannot be told, and the order is unknown; "1.0" and "1.00" are the same either way. A
// number missing on one side counts as 0 ("1.05" = "1.05.0" < "1.05.1"). Anything but
// digits and dots has an unknown order, unless both texts are the same (the same revision).
#pragma once

#include <string>

namespace tavo {

// What the image brings, compared with the revision the drive reports.
enum class TRevisionChange {
  Newer,    // an upgrade
  Same,     // a reinstall
  Older,    // a downgrade
  Unknown,  // cannot tell which is newer
};

TRevisionChange CompareRevisions(const std::string& drive, const std::string& image);

// What the last question and the Start tips add after "from 1.10 to 1.08":
// " (an older revision: a downgrade)", " (the same revision: reinstall)",
// " (cannot tell which is newer)"; nothing for an upgrade.
std::string RevisionChangeNote(TRevisionChange change);

// How a run treats the revision change.
struct TRevisionPolicy {
  bool ifNeeded = false;    // --if-needed: leave a drive at the image's revision or newer alone
  bool allowOlder = false;  // --allow-older: --yes may answer a downgrade
  // The image is a backup of this drive being put back: older by nature, so --yes answers it
  // and --if-needed does not leave the drive alone.
  bool restore = false;
  // The last question is answered without a person (--yes).
  bool unattended = false;
};

enum class TRevisionVerdict {
  Write,        // go on to the last question and the run
  LeaveSame,    // --if-needed: the drive reports the image's revision
  LeaveNewer,   // --if-needed: the drive reports a newer revision than the image's
  RefuseOlder,  // a downgrade that --yes alone would answer: refused, nothing sent
};

TRevisionVerdict DecideRevision(const std::string& drive, const std::string& image,
                                const TRevisionPolicy& policy);

}  // namespace tavo
