// Runs every Qt Test class of the window's suite; the process fails when any of them fails.
#include <QApplication>

int RunForm1Tests(int argc, char** argv);
int RunProgramTests(int argc, char** argv);

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failed = 0;
  failed += RunForm1Tests(argc, argv);
  failed += RunProgramTests(argc, argv);
  return failed == 0 ? 0 : 1;
}
