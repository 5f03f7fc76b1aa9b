#include "ui/ModalDialog.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <algorithm>

#include "ui/Look.h"

namespace tarnwick::ui {

TModalDialog::TModalDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // The dialogs are laid out to the pixel for the classic 11-pixel dialog font; a larger
    // desktop font makes it and the places grow alike.
    QFont compact = font();
    compact.setPixelSize(ScaledFontPixels(11));
    setFont(compact);
}

void TModalDialog::done(int result) {
    const int modalResult = result == 1 ? 1 : 2;
    if (FormClose(modalResult)) {
        QDialog::done(modalResult);
    }
}

void TModalDialog::reject() {
    done(2);
}

void TModalDialog::showEvent(QShowEvent* event) {
    // A window that comes back from being minimised is not a new opening.
    if (!event->spontaneous()) {
        FormShow();
    }
    QDialog::showEvent(event);
}

QPushButton* MakeGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap image,
                             const QString& caption, const QString& hint, const QRect& geometry) {
    auto* button =
        image == QStyle::SP_CustomBase
            ? new QPushButton(caption, parent)
            : new QPushButton(VisibleIcon(parent->style()->standardIcon(image), parent->palette()),
                              caption, parent);
    button->setObjectName(name);
    button->setToolTip(hint);
    if (caption.isEmpty()) {
        button->setAccessibleName(hint);
    }
    button->setAutoDefault(true);
    // Not sizeHint(): styles give every text button a minimum width far above the designed one.
    QString shown = caption;
    shown.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    const bool hasImage = !button->icon().isNull();
    const int padding = shown.isEmpty() ? 8 : 12;
    const int needed = button->fontMetrics().horizontalAdvance(shown) + padding +
                       (hasImage ? button->iconSize().width() + (shown.isEmpty() ? 0 : 4) : 0);
    button->setGeometry(geometry.x(), geometry.y(), std::max(geometry.width(), needed),
                        geometry.height());
    return button;
}

}  // namespace tarnwick::ui
