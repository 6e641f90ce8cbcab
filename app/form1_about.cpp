// The window's "About TAVOFlash" box, offered in its context menu next to the check: the
// program's version, the identity and checksum of the image it carries (what --version
// prints) and the licence, in a box of the window's dialogs.
#include <QAction>
#include <string>

#include "app/form1.h"
#include "session/version.h"

namespace tavo {

std::string TForm1::AboutText() const {
  // The image's identity and its checksum on lines of their own: the box stays narrow.
  std::string image = ImageDescription(image_);
  const size_t checksum = image.find(", checksum ");
  if (checksum != std::string::npos) image.replace(checksum, 2, "\n");
  return std::string("TAVOFlash ") + ProgramVersion() + "\n\nFirmware image: " + image +
         "\n\n"
         "Licence: GNU General Public License, version 2 or (at your option) any later "
         "version (GPL-2.0-or-later). TAVOFlash comes with ABSOLUTELY NO WARRANTY.";
}

void TForm1::BuildAboutAction() {
  AboutAction = new QAction(QStringLiteral("&About TAVOFlash"), this);
  AboutAction->setObjectName(QStringLiteral("AboutAction"));
  const QString tip = QStringLiteral("Shows the version, the firmware image and the licence.");
  AboutAction->setToolTip(tip);
  AboutAction->setStatusTip(tip);
  // The box only shows facts: it is offered during a run and a check as well.
  connect(AboutAction, &QAction::triggered, this,
          [this] { dialogs_.Inform("About TAVOFlash", AboutText(), TDialogIcon::None); });
  addAction(AboutAction);
}

}  // namespace tavo
