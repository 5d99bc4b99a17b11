// SPDX-License-Identifier: GPL-3.0-or-later
#include "views/qt_support.h"

#include <QtGlobal>

#include "print/page_composer.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitNorvoResources() { Q_INIT_RESOURCE(norvo); }

namespace norvo::views {

void InitResources() { InitNorvoResources(); }

// The one conversion the printed pages use too.
QImage ImageFromPixels(const imaging::PixelBuffer& picture) { return print::ImageOf(picture); }

}  // namespace norvo::views
