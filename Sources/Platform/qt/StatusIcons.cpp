// The status icons, drawn rather than shipped: dark outlines round light
// fills stay legible on light and dark panels alike, and the limit badge
// is drawn onto the symbol because a tray icon has no title of its own.
#include "Platform/qt/QtInternal.hpp"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace quellan::qt::internal {
namespace {

const QColor kOutline(0x1e, 0x1e, 0x1e);
const QColor kWindowFill(0xf4, 0xf4, 0xf4);
const QColor kWarningFill(0xf5, 0xb3, 0x01);
const QColor kBadgeFill(0x15, 0x65, 0xc0);
const QColor kBadgeText(0xff, 0xff, 0xff);

const QColor kHalo(0xff, 0xff, 0xff, 150);

// A light rim round the dark outline: lost on a light panel, it keeps the
// shape's edge on a dark one.
void drawHalo(QPainter& painter, const QPainterPath& shape) {
    painter.setPen(QPen(kHalo, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

// Drawn on a 16 × 16 grid, scaled to the size asked for.
void drawWindows(QPainter& painter) {
    const QRectF back(1.0, 2.0, 9.5, 7.5), front(5.5, 6.5, 9.5, 7.5);
    QPainterPath outline;
    outline.addRoundedRect(back, 1.3, 1.3);
    outline.addRoundedRect(front, 1.3, 1.3);
    drawHalo(painter, outline.simplified());
    const auto window = [&](QRectF frame) {
        painter.setPen(QPen(kOutline, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(kWindowFill);
        painter.drawRoundedRect(frame, 1.3, 1.3);
        // The title bar.
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOutline);
        painter.drawRect(QRectF(frame.left(), frame.top(), frame.width(), 2.2));
    };
    window(back);
    window(front);
}

void drawWarning(QPainter& painter) {
    QPainterPath triangle;
    triangle.moveTo(8.0, 1.3);
    triangle.lineTo(15.2, 14.6);
    triangle.lineTo(0.8, 14.6);
    triangle.closeSubpath();
    drawHalo(painter, triangle);
    painter.setPen(QPen(kOutline, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kWarningFill);
    painter.drawPath(triangle);
    painter.setPen(QPen(kOutline, 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8.0, 5.6), QPointF(8.0, 9.8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kOutline);
    painter.drawEllipse(QPointF(8.0, 12.4), 1.0, 1.0);
}

// A pill with the text, at the bottom right of the icon, or the whole icon
// when there is no symbol under it.
void drawBadge(QPainter& painter, const QString& text, int size, bool alone) {
    const qreal height = alone ? size * 0.8 : std::max<qreal>(9.0, size * 0.62);
    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(5, static_cast<int>(height * 0.8)));
    const qreal maximumWidth = size;
    const qreal padding = height * 0.25;
    QFontMetricsF metrics(font);
    // Long titles get a smaller font, and at the smallest one are elided.
    while (metrics.horizontalAdvance(text) + 2 * padding > maximumWidth && font.pixelSize() > 5) {
        font.setPixelSize(font.pixelSize() - 1);
        metrics = QFontMetricsF(font);
    }
    const QString shown = metrics.elidedText(text, Qt::ElideRight, maximumWidth - 2 * padding);
    const qreal width = std::clamp(metrics.horizontalAdvance(shown) + 2 * padding, height, maximumWidth);
    const QRectF pill = alone ? QRectF((size - width) / 2, (size - height) / 2, width, height)
                              : QRectF(size - width, size - height, width, height);
    const qreal border = std::max<qreal>(1.0, size / 32.0);
    painter.setPen(QPen(QColor(0xff, 0xff, 0xff), border));
    painter.setBrush(kBadgeFill);
    painter.drawRoundedRect(pill.adjusted(border / 2, border / 2, -border / 2, -border / 2), height / 2, height / 2);
    painter.setPen(kBadgeText);
    painter.setFont(font);
    painter.drawText(pill, Qt::AlignCenter, shown);
}

} // namespace

std::optional<Symbol> symbolNamed(std::string_view name) {
    if (name == kWindowsSymbolName) return Symbol::windows;
    if (name == kWarningSymbolName) return Symbol::warning;
    return std::nullopt;
}

QImage renderStatusIcon(std::optional<Symbol> symbol, const QString& title, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (symbol) {
        painter.save();
        painter.scale(size / 16.0, size / 16.0);
        if (*symbol == Symbol::windows) {
            drawWindows(painter);
        } else {
            drawWarning(painter);
        }
        painter.restore();
    }
    QString text = title;
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    text = text.trimmed();
    if (!text.isEmpty()) drawBadge(painter, text, size, !symbol);
    return image;
}

QIcon statusIcon(std::optional<Symbol> symbol, const QString& title) {
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addPixmap(QPixmap::fromImage(renderStatusIcon(symbol, title, size)));
    return icon;
}

} // namespace quellan::qt::internal
