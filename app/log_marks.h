// How the window's log makes failures stand out: a failure line gets an error icon and a
// dark red text, so that it differs from a success line by shape as well as by colour.
#pragma once

#include <string>
#include <vector>

class QListWidgetItem;

namespace tavo {

// True for the procedure's failure lines ("Err:...", "Status:...", "Time Out ...", the
// "isn't support" lines) and for the outcome paragraph of a failed run.
bool IsFailureLine(const std::string& text);

// Draws item as a failure when text is a failure line (or failure is set).
void MarkIfFailure(QListWidgetItem* item, const std::string& text, bool failure = false);

// Splits a paragraph into lines of at most width characters at spaces.
std::vector<std::string> WrapWords(const std::string& paragraph, size_t width);

}  // namespace tavo
