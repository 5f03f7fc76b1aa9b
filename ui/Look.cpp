#include "ui/Look.h"

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <algorithm>
#include <cmath>

namespace tarnwick::ui {

namespace {

constexpr double kDesignedFontPixels = 12.0;

}  // namespace

double MeanLightness(const QImage& image) {
    double sum = 0;
    double weight = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            sum += pixel.lightness() * pixel.alphaF();
            weight += pixel.alphaF();
        }
    }
    return weight > 0 ? sum / weight : 255;
}

double FontScale() {
    const int pixels = QFontInfo(QApplication::font()).pixelSize();
    return std::max(1.0, pixels / kDesignedFontPixels);
}

int Scaled(int designed) {
    return static_cast<int>(std::lround(designed * FontScale()));
}

QSize Scaled(const QSize& designed) {
    return {Scaled(designed.width()), Scaled(designed.height())};
}

QRect Scaled(const QRect& designed) {
    return {Scaled(designed.x()), Scaled(designed.y()), Scaled(designed.width()),
            Scaled(designed.height())};
}

int ScaledFontPixels(int designed) {
    return static_cast<int>(designed * FontScale());
}

bool IsDark(const QColor& colour) {
    return colour.lightness() < 110;
}

QColor ReadableOn(const QColor& colour, const QColor& background) {
    if (!IsDark(background)) {
        return colour;
    }
    const QColor hsl = colour.toHsl();
    return QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), std::max(hsl.lightness(), 170),
                           hsl.alpha());
}

QIcon VisibleIcon(const QIcon& icon, const QPalette& palette) {
    if (icon.isNull() || !IsDark(palette.color(QPalette::Window))) {
        return icon;
    }
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) {
        sizes = {QSize(16, 16), QSize(32, 32)};
    }
    QIcon visible;
    for (const QSize& size : sizes) {
        QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (MeanLightness(image) < 100) {
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y).toHsl();
                    image.setPixelColor(x, y,
                                        QColor::fromHsl(pixel.hslHue(), pixel.hslSaturation(),
                                                        255 - pixel.lightness(), pixel.alpha()));
                }
            }
        }
        visible.addPixmap(QPixmap::fromImage(image));
    }
    return visible;
}

}  // namespace tarnwick::ui
