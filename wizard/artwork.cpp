#include "wizard/artwork.h"

#include <QBitmap>
#include <QColor>
#include <QPixmap>

// Q_INIT_RESOURCE must be used outside of any namespace.
static void InitResourcesOnce() {
    Q_INIT_RESOURCE(upgrade);
}

void InitWizardResources() {
    static const bool done = (InitResourcesOnce(), true);
    (void)done;
}

QIcon LoadRowPicture(int index) {
    constexpr int kSize = 16;
    constexpr int kImages = 2;
    if (index < 0 || index >= kImages)
        return {};
    InitWizardResources();
    QPixmap strip(QStringLiteral(":/pictures/bitmap133.png"));
    if (strip.isNull())
        return {};
    strip.setMask(strip.createMaskFromColor(QColor(0, 255, 0), Qt::MaskInColor));
    return QIcon(strip.copy(index * kSize, 0, kSize, kSize));
}
