// Every message box of the window goes through TDialogs, so that tests answer the boxes
// without a real modal box ever appearing.
#pragma once

#include <string>

namespace tavo {

enum class TDialogIcon { None, Warning, Error };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // An OK/Cancel question. True when the user chose OK.
  virtual bool AskOkCancel(const std::string& caption, const std::string& text,
                           TDialogIcon icon) = 0;
  // A message with a single OK button.
  virtual void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) = 0;
  // A file to save to, suggested first; empty when the user cancelled (the default: boxes
  // that only answer questions never name a file).
  virtual std::string AskSaveFile(const std::string& caption, const std::string& suggested) {
    (void)caption;
    (void)suggested;
    return {};
  }
};

// Real modal message boxes, owned by no window.
class TQtDialogs final : public TDialogs {
 public:
  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  std::string AskSaveFile(const std::string& caption, const std::string& suggested) override;
};

// Demo aid for unattended screenshots: answers the start-up confirmation ("WARNING") with
// OK and asks every other box for real.
class TDemoDialogs final : public TDialogs {
 public:
  explicit TDemoDialogs(TDialogs& real) : real_(real) {}
  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  std::string AskSaveFile(const std::string& caption, const std::string& suggested) override {
    return real_.AskSaveFile(caption, suggested);
  }

 private:
  TDialogs& real_;
};

}  // namespace tavo
