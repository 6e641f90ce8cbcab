// Plain words for the lines the program shows when something fails: one table, one
// sentence per line, saying what the line means and what the user can do. The lines
// themselves stay as they are; the front ends show the sentence next to them (the terminal
// on standard error after the line, the window as the line's tooltip and in the status bar).
#pragma once

#include <string>
#include <vector>

namespace tavo {

// The explanation of a log line, empty when the line is no failure line. program: the
// program the user runs ("tavoflash-cli" or "tavoflash"), named where the advice is to run
// it again.
std::string ExplainLine(const std::string& line, const std::string& program);

// One example of every failure line the table explains (for tests and the manual).
std::vector<std::string> ExplainedLineExamples();

}  // namespace tavo
