// The single-instance guard's second half: the first window listens on a local socket
// next to the instance lock; a second start connects, asks it to come to the front and
// ends. The socket lives in the user's runtime directory, so only that user reaches it.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

namespace tavo {

// A "raise" request brings the open message box to the front when one is shown, else the
// main window.
class TRaiseChannel final : public QObject {
  Q_OBJECT

 public:
  // The socket's path: the instance lock's path with ".raise" appended.
  static QString Path();
  // A second start: asks the first window to come to the front. True when it was told.
  static bool AskFirstToRaise(const QString& path = Path());

  // Listening starts before the main window exists, so that a second start during the
  // start-up question reaches the first; the window is named once it exists.
  explicit TRaiseChannel(QWidget* window = nullptr);
  void SetWindow(QWidget* window) { window_ = window; }
  // Starts listening (a socket left over from a crashed instance is replaced; the caller
  // holds the instance lock). False when the socket could not be created.
  bool Listen(const QString& path = Path());

 private:
  void Serve();

  QWidget* window_;
  QLocalServer* server_;
};

}  // namespace tavo
