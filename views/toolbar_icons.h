// SPDX-License-Identifier: GPL-3.0-or-later
// The toolbar's button pictures. One strip is drawn (at 24 pixels and at 48
// for high-density screens), magenta marking transparency; the normal and
// disabled pictures are made from it by the toolbar processors
// (imaging/toolbar_images.h) and the hot one is the strip as drawn. Each
// button's icon carries the three as QIcon's Normal, Active and Disabled
// modes, so Qt shows the right one under the mouse and when disabled.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

#include <map>
#include <string>

#include "imaging/toolbar_images.h"

namespace norvo::views {

// One state of the strip as an image with the key colour made transparent.
QImage ToolbarStripImage(const QImage& strip, imaging::ToolbarState state);

class ToolbarIcons {
 public:
  // Loads the strips and the order of their buttons from the resources.
  ToolbarIcons();
  // The icon of button `name` ("save"); a null icon for an unknown name.
  QIcon icon(const std::string& name) const;

 private:
  std::map<std::string, QIcon> icons_;
};

}  // namespace norvo::views
