// Every message box of the window goes through TDialogs, so that tests answer the boxes
// without a real modal box ever appearing.
#pragma once

#include <string>
#include <vector>

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
  // A Yes/No question with No the default. True when the user chose Yes (the default: No).
  virtual bool AskYesNo(const std::string& caption, const std::string& text, TDialogIcon icon) {
    (void)caption;
    (void)text;
    (void)icon;
    return false;
  }
  // One of items, chosen from a list under label; -1 when the user cancelled (the default).
  virtual int ChooseItem(const std::string& caption, const std::string& label,
                         const std::vector<std::string>& items) {
    (void)caption;
    (void)label;
    (void)items;
    return -1;
  }
};

// Real modal message boxes, owned by no window.
class TQtDialogs final : public TDialogs {
 public:
  bool AskOkCancel(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  void Inform(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  std::string AskSaveFile(const std::string& caption, const std::string& suggested) override;
  bool AskYesNo(const std::string& caption, const std::string& text, TDialogIcon icon) override;
  int ChooseItem(const std::string& caption, const std::string& label,
                 const std::vector<std::string>& items) override;
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
  bool AskYesNo(const std::string& caption, const std::string& text, TDialogIcon icon) override {
    return real_.AskYesNo(caption, text, icon);
  }
  int ChooseItem(const std::string& caption, const std::string& label,
                 const std::vector<std::string>& items) override {
    return real_.ChooseItem(caption, label, items);
  }

 private:
  TDialogs& real_;
};

}  // namespace tavo
