// The wizard's pictures, compiled into the program from wizard/resources/ (drawn by
// make_artwork.py): the page strips (bitmaps 129, 130, 131) and the two row pictures of
// bitmap 133.
#pragma once

#include <QIcon>

// Makes the pictures available; call before a page is built. Harmless when repeated.
void InitWizardResources();
// Row picture 0 (a grey sheet: no file) or 1 (a red check mark: file chosen), cut from bitmap
// 133 with its mask colour RGB(0, 255, 0) transparent. A null icon for another index.
QIcon LoadRowPicture(int index);
